#include "shell/main_dialog.h"

#include "platform/winapp.h"
#include "shell/about_dlg.h"

// The About entry's id has to be a system command id: below 0xF000, low four bits clear.
static_assert((IDM_ABOUTBOX & kSysCommandMask) == IDM_ABOUTBOX);
static_assert(IDM_ABOUTBOX < 0xF000);

CMainDialog::CMainDialog(int templateId, QWidget* parent)
    : CDialog(templateId, parent), m_hIcon(AfxLoadIcon(IDR_MAINFRAME)) {}

bool CMainDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  if (CMenu* systemMenu = GetSystemMenu(false)) {
    const std::string aboutMenu = AfxLoadString(IDS_ABOUTBOX);
    if (!aboutMenu.empty()) {
      systemMenu->AppendMenu(MF_SEPARATOR);
      systemMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutMenu);
    }
  }
  SetIcon(m_hIcon, true);
  SetIcon(m_hIcon, false);
  return true;
}

const MessageMap& CMainDialog::GetMessageMap() const {
  static const MessageMap map(CDialog::GetMessageMap(),
                              {
                                  OnSysCommandEntry(&CMainDialog::OnSysCommand),
                                  OnPaintEntry(&CMainDialog::OnPaint),
                                  OnQueryDragIconEntry(&CMainDialog::OnQueryDragIcon),
                              });
  return map;
}

void CMainDialog::OnSysCommand(unsigned id, long lParam) {
  if ((id & kSysCommandMask) == IDM_ABOUTBOX) {
    CAboutDlg about(this);
    about.DoModal();
  } else {
    CDialog::OnSysCommand(id, lParam);
  }
}

void CMainDialog::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  EraseIconBackground(dc);
  const QSize icon(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  const QPoint origin = MinimizedIconOrigin(GetClientRect().size(), icon);
  dc.DrawIcon(origin.x(), origin.y(), m_hIcon);
}

// Kept for the dialog style's sake: only a minimized window dragged by its icon asks for it.
QIcon CMainDialog::OnQueryDragIcon() {
  return m_hIcon;
}

void CMainDialog::OnDestroy() {
  WinHelp(0, HELP_QUIT);  // the style's closing call: neither program opens any help to close
  CDialog::OnDestroy();
}

QPoint MinimizedIconOrigin(const QSize& client, const QSize& icon) {
  return {(client.width() - icon.width() + 1) / 2, (client.height() - icon.height() + 1) / 2};
}
