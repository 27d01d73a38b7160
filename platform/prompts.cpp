#include "platform/prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <vector>

#include "platform/framework_ids.h"

namespace {

// Real dialogs, captioned with the program's name as the user knows it.
class QtPrompts : public UserPrompts {
 public:
  void ShowMessage(QWidget* parent, const std::string& text, MessageIcon icon) override {
    QMessageBox box(
        icon == MessageIcon::information ? QMessageBox::Information : QMessageBox::Warning,
        QApplication::applicationName(), QString::fromStdString(text), QMessageBox::Ok, parent);
    box.exec();
  }

  bool AskYesNo(QWidget* parent, const std::string& text, bool noByDefault) override {
    QMessageBox box(QMessageBox::Question, QApplication::applicationName(),
                    QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(noByDefault ? QMessageBox::No : QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
  }

  std::optional<std::string> AskOpenFile(QWidget* parent,
                                         const FileDialogRequest& request) override {
    return Chosen(QFileDialog::getOpenFileName(
        parent, QString(), QString::fromStdString(request.initialPath),
        QString::fromStdString(request.nameFilters), nullptr, QFileDialog::HideNameFilterDetails));
  }

  std::optional<std::string> AskSaveFile(QWidget* parent,
                                         const FileDialogRequest& request) override {
    return Chosen(QFileDialog::getSaveFileName(
        parent, QString(), QString::fromStdString(request.initialPath),
        QString::fromStdString(request.nameFilters), nullptr, QFileDialog::HideNameFilterDetails));
  }

 private:
  static std::optional<std::string> Chosen(const QString& path) {
    if (path.isEmpty()) return std::nullopt;
    return path.toStdString();
  }
};

QtPrompts g_qtPrompts;
UserPrompts* g_prompts = &g_qtPrompts;

QWidget* ActiveParent() {
  QWidget* modal = QApplication::activeModalWidget();
  return modal != nullptr ? modal : QApplication::activeWindow();
}

std::vector<std::string> SplitAtBars(const std::string& text) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (auto bar = text.find('|'); bar != std::string::npos; bar = text.find('|', start)) {
    parts.push_back(text.substr(start, bar - start));
    start = bar + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::string QtPatterns(const std::string& patterns) {
  std::string result;
  std::string::size_type start = 0;
  while (start <= patterns.size()) {
    auto end = patterns.find(';', start);
    if (end == std::string::npos) end = patterns.size();
    std::string one = patterns.substr(start, end - start);
    if (one == "*.*") one = "*";
    if (!one.empty()) result += (result.empty() ? "" : " ") + one;
    start = end + 1;
  }
  return result;
}

}  // namespace

UserPrompts& AfxGetPrompts() {
  return *g_prompts;
}

void AfxSetPrompts(UserPrompts* prompts) {
  g_prompts = prompts != nullptr ? prompts : &g_qtPrompts;
}

int AfxMessageBox(const std::string& text, unsigned type) {
  if ((type & MB_YESNO) == MB_YESNO) {
    const bool noByDefault = (type & MB_DEFBUTTON2) == MB_DEFBUTTON2;
    return AfxGetPrompts().AskYesNo(ActiveParent(), text, noByDefault) ? IDYES : IDNO;
  }
  const bool information = (type & MB_ICONINFORMATION) == MB_ICONINFORMATION;
  AfxGetPrompts().ShowMessage(ActiveParent(), text,
                              information ? MessageIcon::information : MessageIcon::warning);
  return IDOK;
}

std::string QtNameFilters(const std::string& barSeparated) {
  // Pairs of display name and patterns; an empty name ends the list (the "||" terminator).
  std::vector<std::string> parts = SplitAtBars(barSeparated);
  std::string filters;
  for (std::size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
    if (!filters.empty()) filters += ";;";
    filters += parts[i] + " (" + QtPatterns(parts[i + 1]) + ")";
  }
  return filters;
}

CFileDialog::CFileDialog(bool openFileDialog, const char* fileName, const char* filter,
                         QWidget* parent)
    : m_open(openFileDialog), m_parent(parent) {
  m_request.nameFilters = filter != nullptr ? QtNameFilters(filter) : std::string();
  m_request.initialPath = fileName != nullptr ? fileName : "";
}

int CFileDialog::DoModal() {
  QWidget* parent = m_parent != nullptr ? m_parent : ActiveParent();
  std::optional<std::string> path = m_open ? AfxGetPrompts().AskOpenFile(parent, m_request)
                                           : AfxGetPrompts().AskSaveFile(parent, m_request);
  m_pathName = path.value_or(std::string());
  return path ? IDOK : IDCANCEL;
}

CWaitCursor::CWaitCursor() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

CWaitCursor::~CWaitCursor() {
  QApplication::restoreOverrideCursor();
}
