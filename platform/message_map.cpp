#include "platform/message_map.h"

const MessageEntry* MessageMap::Find(Message message, int id) const {
  for (const MessageMap* map = this; map != nullptr; map = map->m_base) {
    for (const MessageEntry& entry : map->m_entries) {
      if (entry.message == message && entry.id == id) return &entry;
    }
  }
  return nullptr;
}
