// Per-class message maps: a static table that names, for each message a dialog class answers,
// the member function that handles it. A class's table chains to its base class's table, so
// an entry in a derived class hides the base class's entry for the same message; CDialog's own
// table at the root holds the default handling.
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

// What travels with a message: the system command and its extra value in, the drag icon out.
struct MessageParams {
  unsigned wParam = 0;
  long lParam = 0;
  QIcon icon;
};

struct MessageEntry {
  Message message;
  int id;  // control or command id; 0 for window-wide messages
  std::function<void(CDialog&, MessageParams&)> handler;
};

class MessageMap {
 public:
  MessageMap(const MessageMap* base, std::initializer_list<MessageEntry> entries)
      : m_base(base), m_entries(entries) {}
  MessageMap(const MessageMap& base, std::initializer_list<MessageEntry> entries)
      : MessageMap(&base, entries) {}

  // The nearest entry for the message, searching this class first and then its bases.
  const MessageEntry* Find(Message message, int id) const {
    for (const MessageEntry& entry : m_entries) {
      if (entry.message == message && entry.id == id) return &entry;
    }
    return m_base != nullptr ? m_base->Find(message, id) : nullptr;
  }

 private:
  const MessageMap* m_base;
  std::vector<MessageEntry> m_entries;
};

// The handler's class is deduced from the member pointer, and the dialog is cast back to it
// when the message arrives; the member's signature says which parameters it takes.
template <class D>
auto MessageHandler(void (D::*fn)()) {
  return [fn](CDialog& d, MessageParams&) { (static_cast<D&>(d).*fn)(); };
}
template <class D>
auto MessageHandler(void (D::*fn)(unsigned, long)) {
  return [fn](CDialog& d, MessageParams& p) { (static_cast<D&>(d).*fn)(p.wParam, p.lParam); };
}
template <class D>
auto MessageHandler(QIcon (D::*fn)()) {
  return [fn](CDialog& d, MessageParams& p) { p.icon = (static_cast<D&>(d).*fn)(); };
}

template <class D>
MessageEntry OnCommandEntry(int id, void (D::*fn)()) {
  return {Message::Command, id, MessageHandler(fn)};
}
template <class D>
MessageEntry OnEditChangeEntry(int id, void (D::*fn)()) {
  return {Message::EditChange, id, MessageHandler(fn)};
}
template <class D>
MessageEntry OnSysCommandEntry(void (D::*fn)(unsigned, long)) {
  return {Message::SysCommand, 0, MessageHandler(fn)};
}
template <class D>
MessageEntry OnPaintEntry(void (D::*fn)()) {
  return {Message::Paint, 0, MessageHandler(fn)};
}
template <class D>
MessageEntry OnDestroyEntry(void (D::*fn)()) {
  return {Message::Destroy, 0, MessageHandler(fn)};
}
template <class D>
MessageEntry OnQueryDragIconEntry(QIcon (D::*fn)()) {
  return {Message::QueryDragIcon, 0, MessageHandler(fn)};
}
