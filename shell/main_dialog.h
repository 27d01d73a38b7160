// What every main dialog does besides its own controls: the About entry on the system menu,
// the application icon on the window, the icon painted while minimized, and the icon shown
// while the minimized window is dragged. CGeneratorDlg and CLoopDlg derive from it and chain
// their message maps to its one:
//
//   static const MessageMap map(CMainDialog::GetMessageMap(), { ...their own entries... });
//
// A program that opened help asks the help engine to quit when its window goes: it adds
// OnDestroyEntry(&CLoopDlg::OnDestroy) to its map. A dialog that must show its members once
// more at start overrides OnInitDialog, calls CMainDialog::OnInitDialog, then UpdateData(false).
#pragma once

#include <QIcon>

#include "platform/dialog.h"
#include "resources/resource_ids.h"

class CMainDialog : public CDialog {
 public:
  explicit CMainDialog(int templateId = IDD_MAIN_DIALOG, QWidget* parent = nullptr);

 protected:
  bool OnInitDialog() override;
  const MessageMap& GetMessageMap() const override;

  void OnSysCommand(unsigned id, long lParam);
  void OnPaint();
  QIcon OnQueryDragIcon();
  void OnDestroy();  // not in this map: only a program that uses help maps it

  QIcon m_hIcon;
};

// Where the minimized window's icon goes: centred, with the +1 and the division rounding
// toward zero, so an icon larger than the client area is shifted by half the overhang.
QPoint MinimizedIconOrigin(const QSize& client, const QSize& icon);
