// Driving real dialogs from GUI tests: a prompt handler that records message boxes and answers
// file dialogs from a queue, a modal runner with a watchdog, and clicks and typing on controls
// found as a person finds them, by their words or the name a screen reader gives them.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dialog.h"
#include "platform/prompts.h"

// The message boxes an action brought up, in the order they were shown.
using Messages = std::vector<std::string>;

// The framework's prompts for a box whose text is not an integer, and for one whose integer is
// out of its range.
inline constexpr char kNotAnInteger[] = "Please enter an integer.";
inline std::string IntegerRangePrompt(long long low, long long high) {
  return "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) +
         ".";
}

// A modal loop still running after this long has lost its script: fail instead of hanging.
inline constexpr int kModalWatchdogMs = 5000;
inline constexpr int kModalPollMs = 10;
inline constexpr int kMaxNestedModals = 16;

// Installed for its lifetime: every message box is recorded and returns at once, as if OK was
// pressed; each question takes the next queued answer (a question with none queued fails the
// test and counts as No); each file dialog, open or save, takes the next answer queued for its
// kind (a path, or a cancel).
class PromptRecorder : public UserPrompts {
 public:
  using Answers = std::deque<std::optional<std::string>>;

  PromptRecorder() { AfxSetPrompts(this); }
  ~PromptRecorder() override { AfxSetPrompts(nullptr); }
  PromptRecorder(const PromptRecorder&) = delete;
  PromptRecorder& operator=(const PromptRecorder&) = delete;

  void ShowMessage(QWidget*, const std::string& text, MessageIcon icon) override {
    messages.push_back(text);
    icons.push_back(icon);
    if (onMessage) onMessage(text);
  }
  bool AskYesNo(QWidget*, const std::string& text, bool noByDefault) override {
    questions.push_back(text);
    enterAnswersNo.push_back(noByDefault);
    if (onMessage) onMessage(text);
    if (yesNoAnswers.empty()) {
      ADD_FAILURE() << "a question was asked with no answer queued: " << text;
      return false;
    }
    const bool yes = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return yes;
  }
  std::optional<std::string> AskOpenFile(QWidget*, const FileDialogRequest& request) override {
    fileRequests.push_back(request);
    return Next(fileAnswers, "file");
  }
  std::optional<std::string> AskSaveFile(QWidget*, const FileDialogRequest& request) override {
    saveRequests.push_back(request);
    return Next(saveAnswers, "save");
  }

  void AnswerFileDialog(std::string path) { fileAnswers.emplace_back(std::move(path)); }
  void CancelFileDialog() { fileAnswers.emplace_back(std::nullopt); }
  void AnswerSaveDialog(std::string path) { saveAnswers.emplace_back(std::move(path)); }
  void CancelSaveDialog() { saveAnswers.emplace_back(std::nullopt); }
  void AnswerQuestion(bool yes) { yesNoAnswers.push_back(yes); }

  std::vector<std::string> messages;  // in the order they were shown
  std::vector<MessageIcon> icons;     // the icon of each message
  std::vector<std::string> questions;
  std::vector<bool> enterAnswersNo;  // per question: No is the default button
  std::vector<FileDialogRequest> fileRequests;
  std::vector<FileDialogRequest> saveRequests;
  Answers fileAnswers;
  Answers saveAnswers;
  std::deque<bool> yesNoAnswers;
  // Called while a box or question is "up", e.g. to see which control has the focus then.
  std::function<void(const std::string&)> onMessage;

 private:
  static std::optional<std::string> Next(Answers& answers, const char* kind) {
    if (answers.empty()) {
      ADD_FAILURE() << "a " << kind << " dialog opened with no answer queued";
      return std::nullopt;
    }
    std::optional<std::string> answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// Ends every open modal dialog, innermost first.
inline void CloseAllModals() {
  for (int i = 0; i < kMaxNestedModals; ++i) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->done(QDialog::Rejected);
    } else {
      modal->hide();
    }
  }
}

// Runs body, which enters a modal loop, with script run once inside that loop. If a modal
// dialog is still open after the watchdog's time, the test fails and every modal is closed.
inline void RunInsideModal(const std::function<void()>& body, std::function<void()> script) {
  QTimer::singleShot(0, std::move(script));
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    ADD_FAILURE() << "a modal dialog was still open after " << kModalWatchdogMs << " ms";
    CloseAllModals();
  });
  watchdog.start(kModalWatchdogMs);
  body();
}

// DoModal with the script run inside its loop, once the dialog is the active window (so focus
// and keys behave as on a desktop); returns DoModal's result.
inline int RunModal(CDialog& dialog, std::function<void()> script) {
  int result = 0;
  RunInsideModal([&] { result = dialog.DoModal(); },
                 [&dialog, script = std::move(script)] {
                   EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog, kModalWatchdogMs));
                   script();
                 });
  return result;
}

// Calls answer with the next modal widget that opens on top of the current one, e.g. the
// About box a menu entry brings up. Schedule it before the action that opens the box.
inline void WhenNextModalOpens(std::function<void(QWidget*)> answer) {
  QWidget* current = QApplication::activeModalWidget();
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, current, answer = std::move(answer)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == current) return;
    poll->stop();
    poll->deleteLater();
    answer(modal);
  });
  poll->start(kModalPollMs);
}

// Controls as a person finds them: a button by the words on it (mnemonic "&" left out), an edit
// box by the name a screen reader gives it.
inline QAbstractButton* FindButton(const QWidget& window, const QString& text) {
  for (auto* button : window.findChildren<QAbstractButton*>()) {
    if (!button->isHidden() && button->text().remove(u'&') == text) return button;
  }
  return nullptr;
}

inline QLineEdit* FindEdit(const QWidget& window, const QString& name) {
  for (auto* edit : window.findChildren<QLineEdit*>()) {
    if (edit->accessibleName() == name) return edit;
  }
  return nullptr;
}

inline void Click(const QWidget& window, const QString& text) {
  QAbstractButton* button = FindButton(window, text);
  ASSERT_NE(button, nullptr) << "no button \"" << text.toStdString() << "\"";
  QTest::mouseClick(button, Qt::LeftButton);
}

// Leaves a dialog with Exit, saying Yes should it ask whether to drop edits not yet saved.
inline void ExitDroppingEdits(PromptRecorder& prompts, const QWidget& window) {
  const std::size_t asked = prompts.questions.size();
  prompts.yesNoAnswers.push_front(true);
  Click(window, "Exit");
  if (prompts.questions.size() == asked) prompts.yesNoAnswers.pop_front();
}

// Clicks the button with this text and returns the message boxes the click brought up.
inline Messages MessagesOfClick(PromptRecorder& prompts, const QWidget& window,
                                const QString& text) {
  prompts.messages.clear();
  Click(window, text);
  return prompts.messages;
}

// Replaces the named box's text by typing, key by key, so validators see every keystroke.
inline void TypeInto(const QWidget& window, const QString& name, const QString& text) {
  QLineEdit* edit = FindEdit(window, name);
  ASSERT_NE(edit, nullptr) << "no edit box \"" << name.toStdString() << "\"";
  edit->setFocus(Qt::TabFocusReason);
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

inline QString BoxText(const QWidget& window, const QString& name) {
  QLineEdit* edit = FindEdit(window, name);
  return edit != nullptr ? edit->text() : QString("<no box " + name + ">");
}

// By control id: only for suites that still reach controls that way; new tests use the above.
inline QLineEdit* EditOf(const CDialog& dialog, int id) {
  return qobject_cast<QLineEdit*>(dialog.GetDlgItem(id));
}

inline QAbstractButton* ButtonOf(const CDialog& dialog, int id) {
  return qobject_cast<QAbstractButton*>(dialog.GetDlgItem(id));
}

// A left click in the middle of the button, as a user would.
inline void ClickItem(const CDialog& dialog, int id) {
  QAbstractButton* button = ButtonOf(dialog, id);
  ASSERT_NE(button, nullptr) << "no button " << id;
  QTest::mouseClick(button, Qt::LeftButton);
}

// Replaces the edit box's text by typing, key by key, so validators see every keystroke.
inline void TypeInto(const CDialog& dialog, int id, const QString& text) {
  QLineEdit* edit = EditOf(dialog, id);
  ASSERT_NE(edit, nullptr) << "no edit box " << id;
  edit->setFocus(Qt::TabFocusReason);
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

inline QString ItemText(const CDialog& dialog, int id) {
  QLineEdit* edit = EditOf(dialog, id);
  return edit != nullptr ? edit->text() : QString();
}
