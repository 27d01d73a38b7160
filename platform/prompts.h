// Everything that asks the user something and waits: message boxes, yes/no questions and the
// file dialogs. All go through one replaceable handler, so tests (or another front end) can answer
// them without a human at the screen.
#pragma once

#include <optional>
#include <string>

class QWidget;

struct FileDialogRequest {
  std::string nameFilters;  // Qt's form: "Wave Files (*.wav);;All Files (*)"
  // Opening: where the dialog starts, empty for the current folder. Saving: the name proposed.
  std::string initialPath;
};

// What a message box tells: that something was done, or that it could not be.
enum class MessageIcon { information, warning };

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  // A modal box with the icon, the text and one OK button; returns once it is dismissed.
  virtual void ShowMessage(QWidget* parent, const std::string& text, MessageIcon icon) = 0;
  // A modal question with Yes and No buttons; true for Yes. Closing the box counts as No. Enter
  // answers Yes, or No when noByDefault (a question whose Yes loses something).
  virtual bool AskYesNo(QWidget* parent, const std::string& text, bool noByDefault) = 0;
  // The chosen path, or nothing when the user cancelled. A save dialog asks before a chosen
  // file that exists is replaced.
  virtual std::optional<std::string> AskOpenFile(QWidget* parent,
                                                 const FileDialogRequest& request) = 0;
  virtual std::optional<std::string> AskSaveFile(QWidget* parent,
                                                 const FileDialogRequest& request) = 0;
};

// The handler in use; by default real Qt dialogs. Installing nullptr restores the default.
UserPrompts& AfxGetPrompts();
void AfxSetPrompts(UserPrompts* prompts);

// Buttons and icon of a message box, and the answers beside IDOK. A box without an icon flag
// carries the warning icon: most boxes say why something could not be done.
inline constexpr unsigned MB_OK = 0x0000;
inline constexpr unsigned MB_YESNO = 0x0004;
inline constexpr unsigned MB_ICONWARNING = 0x0030;
inline constexpr unsigned MB_ICONINFORMATION = 0x0040;
inline constexpr unsigned MB_DEFBUTTON2 = 0x0100;  // with MB_YESNO: Enter answers No
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows text in a modal box and returns once the user closed it: with MB_OK (one OK button,
// optionally with MB_ICONINFORMATION or MB_ICONWARNING) IDOK, with MB_YESNO (optionally with
// MB_DEFBUTTON2) IDYES or IDNO.
int AfxMessageBox(const std::string& text, unsigned type = MB_OK);

// The filter in the "Name|patterns|Name|patterns||" form turned into Qt's name-filter form.
// Patterns separated by ';' become a space-separated list, and "*.*" becomes "*": on this
// system a file needs no dot to count as any file.
std::string QtNameFilters(const std::string& barSeparated);

// The file-open dialog, or with openFileDialog false the save dialog proposing fileName. The
// filter is in the "Name|patterns|Name|patterns||" form.
class CFileDialog {
 public:
  explicit CFileDialog(bool openFileDialog, const char* fileName = nullptr,
                       const char* filter = nullptr, QWidget* parent = nullptr);

  int DoModal();  // IDOK when a file was chosen, IDCANCEL otherwise
  const std::string& GetPathName() const { return m_pathName; }  // empty after a cancel

 private:
  bool m_open;
  FileDialogRequest m_request;
  QWidget* m_parent;
  std::string m_pathName;
};

// A busy cursor for as long as the object lives.
class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};
