// Resource ids both programs share: their About box, its menu text and the application icon.
#pragma once

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;  // the About entry's text on the system menu
inline constexpr int IDD_MAIN_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;         // the application icon
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;  // system command of the About entry
