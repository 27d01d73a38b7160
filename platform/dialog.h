// CDialog: a modal dialog built from a dialog template, with the framework's life cycle
// (OnInitDialog, OnOK, OnCancel, EndDialog), data exchange between members and controls, and
// commands, edit changes and system commands dispatched through the class's message map.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPainter>
#include <string>
#include <vector>

#include "platform/data_exchange.h"
#include "platform/dialog_template.h"
#include "platform/framework_ids.h"
#include "platform/message_map.h"

class QMenu;
class QRadioButton;

// The window's system menu as the handlers see it.
class CMenu {
 public:
  explicit CMenu(QMenu* menu = nullptr) : m_menu(menu) {}
  // MF_SEPARATOR ignores id and text; MF_STRING adds an entry that sends id as a system command.
  void AppendMenu(unsigned flags, unsigned id = 0, const std::string& text = {});
  QMenu* GetQMenu() const { return m_menu; }

 private:
  QMenu* m_menu;
};

// Painting inside a paint handler, on whatever the widget is being painted to (the screen, or
// an image through QWidget::render).
class CPaintDC {
 public:
  explicit CPaintDC(QWidget* window) : m_painter(window) {}
  // Draws the icon at the system's icon size with its top-left corner at (x, y).
  void DrawIcon(int x, int y, const QIcon& icon);
  QPainter& Painter() { return m_painter; }

 private:
  QPainter m_painter;
};

// SM_CXICON / SM_CYICON: the size a window icon is drawn at.
int GetSystemMetrics(int index);

class CDialog : public QDialog {
 public:
  explicit CDialog(int templateId, QWidget* parent = nullptr);
  ~CDialog() override;

  // Runs the dialog modally: OnInitDialog, the modal loop, then the destroy message. Returns
  // the value passed to EndDialog.
  int DoModal();
  void EndDialog(int result);

  // Runs DoDataExchange: from controls to members when saveAndValidate is true, the other way
  // otherwise. False when a value failed; its prompt has been shown and its control focused.
  bool UpdateData(bool saveAndValidate = true);
  // What stopped the last UpdateData; none when it succeeded.
  ExchangeFailure GetExchangeFailure() const { return m_exchangeFailure; }

  QWidget* GetDlgItem(int id) const;
  // The radio buttons of the group that starts with firstId, in template order.
  std::vector<QRadioButton*> GetRadioGroup(int firstId) const;

  void SetIcon(const QIcon& icon, bool bigIcon);
  QIcon GetIcon(bool bigIcon) const { return m_icons[bigIcon ? 1 : 0]; }
  CMenu* GetSystemMenu(bool /*revert*/ = false) { return &m_systemMenu; }
  bool IsIconic() const { return isMinimized(); }
  QRect GetClientRect() const { return rect(); }
  // Repainting at once: Invalidate marks the whole window, UpdateWindow paints what is marked.
  void Invalidate() { update(); }
  void UpdateWindow() { repaint(); }
  // Asks the help engine to do something; HELP_QUIT closes any help it showed. The programs
  // carry no help files, so nothing is ever open to close.
  virtual void WinHelp(unsigned long /*data*/, unsigned /*command*/) {}

  // Message delivery, as clicks, typing and the system menu do it: the nearest entry in the
  // message map handles it, and a file error escaping the handler is reported.
  MessageParams Dispatch(Message message, int id = 0, MessageParams params = {});
  void SendCommand(int id) { Dispatch(Message::Command, id); }
  void SendSysCommand(unsigned id, long lParam = 0) {
    Dispatch(Message::SysCommand, 0, {id, lParam, {}});
  }

 protected:
  virtual bool OnInitDialog();  // true: the platform places the focus
  virtual void OnOK();          // saves and validates; closes with IDOK only on success
  virtual void OnCancel();      // closes with IDCANCEL
  virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
  // CDialog's own map holds the defaults: OK and Cancel, system commands, painting, destroy.
  virtual const MessageMap& GetMessageMap() const;

  // Default handling, for handlers to fall back on.
  void OnSysCommand(unsigned id, long lParam);
  void OnPaint() {}  // the toolkit already drew the background
  void OnDestroy() {}
  // Fills the client area with the window background, under a minimized window's icon.
  void EraseIconBackground(CPaintDC& dc);

  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void reject() override;

 private:
  struct Control {
    int id;
    ControlKind kind;
    unsigned style;
    QWidget* widget;
  };
  void BuildControls(const DialogTemplate& dialogTemplate, const QFont& font);
  QWidget* CreateControl(const ControlTemplate& t);
  void NameEditBoxes(const DialogTemplate& dialogTemplate);
  void SetUpKeyboard();
  void BuildSystemMenu(unsigned dialogStyle);

  std::vector<Control> m_controls;  // template order
  CMenu m_systemMenu;
  QIcon m_icons[2];  // small, big
  bool m_ended = false;
  ExchangeFailure m_exchangeFailure = ExchangeFailure::none;
};
