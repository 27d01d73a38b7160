// The framework's standard command ids and constants, with the values the dialog resources and
// handlers are written against.
#pragma once

// Dialog results and the standard command ids of buttons.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int ID_HELP = 57670;

// System commands. The low four bits are reserved for the window manager, which is why
// handlers compare (id & kSysCommandMask).
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_CLOSE = 0xF060;
inline constexpr unsigned SC_RESTORE = 0xF120;
inline constexpr unsigned kSysCommandMask = 0xFFF0;

// Menu item flags for CMenu::AppendMenu.
inline constexpr unsigned MF_STRING = 0x0000;
inline constexpr unsigned MF_SEPARATOR = 0x0800;

// Help engine commands for CDialog::WinHelp.
inline constexpr unsigned HELP_QUIT = 0x0002;

// System metrics.
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
