// Everything that asks the user something and waits: message boxes and the file-open dialog.
// Both go through one replaceable handler, so tests (or another front end) can answer them
// without a human at the screen.
#pragma once

#include <optional>
#include <string>

class QWidget;

struct FileOpenRequest {
  std::string nameFilters;   // Qt's form: "Wave Files (*.wav);;All Files (*)"
  std::string initialPath;   // where the dialog starts; empty for the current folder
  bool hideReadOnly = true;  // a Qt file dialog has no read-only box; kept for the record
};

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  // A modal box with the text and one OK button; returns once it is dismissed.
  virtual void ShowMessage(QWidget* parent, const std::string& text) = 0;
  // The chosen path, or nothing when the user cancelled.
  virtual std::optional<std::string> AskOpenFile(QWidget* parent,
                                                 const FileOpenRequest& request) = 0;
};

// The handler in use; by default real Qt dialogs. Installing nullptr restores the default.
UserPrompts& AfxGetPrompts();
void AfxSetPrompts(UserPrompts* prompts);

// Shows text in a modal box with one OK button and returns IDOK once the user closed it.
int AfxMessageBox(const std::string& text);

// The filter in the "Name|patterns|Name|patterns||" form turned into Qt's name-filter form.
// Patterns separated by ';' become a space-separated list, and "*.*" becomes "*": on this
// system a file needs no dot to count as any file.
std::string QtNameFilters(const std::string& barSeparated);

inline constexpr unsigned OFN_HIDEREADONLY = 0x0004;
inline constexpr unsigned OFN_OVERWRITEPROMPT = 0x0002;

// The file-open dialog. Only opening is supported: neither program saves through a dialog, so
// openFileDialog must be true and defaultExt (which only completes names typed for saving) is
// ignored.
class CFileDialog {
 public:
  CFileDialog(bool openFileDialog, const char* defaultExt = nullptr, const char* fileName = nullptr,
              unsigned flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
              QWidget* parent = nullptr);

  int DoModal();  // IDOK when a file was chosen, IDCANCEL otherwise
  const std::string& GetPathName() const { return m_pathName; }  // empty after a cancel

 private:
  FileOpenRequest m_request;
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
