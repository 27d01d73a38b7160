// Per-class message maps: a static table that names, for each message a dialog class answers,
// the member function that handles it. A class's table chains to its base class's table, so
// an entry in a derived class hides the base class's entry for the same message.
//
//   const MessageMap& CLoopDlg::GetMessageMap() const {
//     static const MessageMap map(CMainDialog::GetMessageMap(), {
//         OnCommandEntry(kIdOpenFile, &CLoopDlg::OnOpenFile),
//         OnEditChangeEntry(kIdLoopPoint1, &CLoopDlg::OnChangeLoopPoint),
//         OnDestroyEntry(&CLoopDlg::OnDestroy),
//     });
//     return map;
//   }
#pragma once

#include <QIcon>
#include <functional>
#include <initializer_list>
#include <vector>

class CDialog;

enum class Message { Command, EditChange, SysCommand, Paint, Destroy, QueryDragIcon };

struct MessageEntry {
  Message message;
  int id = 0;                             // control or command id; unused for window-wide messages
  std::function<void(CDialog&)> handler;  // all but the two below
  std::function<void(CDialog&, unsigned, long)> sysCommandHandler;  // (command id, lParam)
  std::function<QIcon(CDialog&)> dragIconHandler;
};

class MessageMap {
 public:
  MessageMap() = default;  // the root: CDialog's own, empty table
  MessageMap(const MessageMap& base, std::initializer_list<MessageEntry> entries)
      : m_base(&base), m_entries(entries) {}

  // The nearest entry for the message, searching this class first and then its bases.
  const MessageEntry* Find(Message message, int id = 0) const;

 private:
  const MessageMap* m_base = nullptr;
  std::vector<MessageEntry> m_entries;
};

// Entry makers. The handler's class is deduced from the member pointer, and the dialog is cast
// back to it when the message arrives.
template <class D>
MessageEntry OnCommandEntry(int id, void (D::*fn)()) {
  return {Message::Command, id, [fn](CDialog& d) { (static_cast<D&>(d).*fn)(); }, {}, {}};
}
template <class D>
MessageEntry OnEditChangeEntry(int id, void (D::*fn)()) {
  return {Message::EditChange, id, [fn](CDialog& d) { (static_cast<D&>(d).*fn)(); }, {}, {}};
}
template <class D>
MessageEntry OnPaintEntry(void (D::*fn)()) {
  return {Message::Paint, 0, [fn](CDialog& d) { (static_cast<D&>(d).*fn)(); }, {}, {}};
}
template <class D>
MessageEntry OnDestroyEntry(void (D::*fn)()) {
  return {Message::Destroy, 0, [fn](CDialog& d) { (static_cast<D&>(d).*fn)(); }, {}, {}};
}
template <class D>
MessageEntry OnSysCommandEntry(void (D::*fn)(unsigned, long)) {
  return {Message::SysCommand,
          0,
          {},
          [fn](CDialog& d, unsigned id, long lParam) { (static_cast<D&>(d).*fn)(id, lParam); },
          {}};
}
template <class D>
MessageEntry OnQueryDragIconEntry(QIcon (D::*fn)()) {
  return {
      Message::QueryDragIcon, 0, {}, {}, [fn](CDialog& d) { return (static_cast<D&>(d).*fn)(); }};
}
