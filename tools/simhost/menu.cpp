// A client's add-on menu entries.
#include "menu.h"

#include <cctype>

#include "host_protocol.h"

namespace simhost {

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

ClientMenu::Item* ClientMenu::FindItem(uint32_t eventId) {
  for (Item& item : items_) {
    if (item.entry.eventId == eventId) return &item;
  }
  return nullptr;
}

uint32_t ClientMenu::AddItem(const std::string& text, uint32_t eventId, uint32_t data, uint32_t* argumentIndex) {
  if (FindItem(eventId) != nullptr) {
    *argumentIndex = 2;
    return host_protocol::kExceptionInvalidArgument;
  }
  items_.push_back(Item{Entry{text, eventId, data}, {}});
  return host_protocol::kExceptionNone;
}

uint32_t ClientMenu::AddSubItem(uint32_t parentEventId, const std::string& text, uint32_t subEventId,
                                uint32_t data, uint32_t* argumentIndex) {
  Item* parent = FindItem(parentEventId);
  if (parent == nullptr) {
    *argumentIndex = 1;
    return host_protocol::kExceptionInvalidArgument;
  }
  for (const Entry& sub : parent->subItems) {
    if (sub.eventId == subEventId) {
      *argumentIndex = 3;
      return host_protocol::kExceptionInvalidArgument;
    }
  }
  parent->subItems.push_back(Entry{text, subEventId, data});
  return host_protocol::kExceptionNone;
}

uint32_t ClientMenu::RemoveSubItem(uint32_t parentEventId, uint32_t subEventId, uint32_t* argumentIndex) {
  Item* parent = FindItem(parentEventId);
  if (parent == nullptr) {
    *argumentIndex = 1;
    return host_protocol::kExceptionInvalidArgument;
  }
  for (auto sub = parent->subItems.begin(); sub != parent->subItems.end(); ++sub) {
    if (sub->eventId == subEventId) {
      parent->subItems.erase(sub);
      return host_protocol::kExceptionNone;
    }
  }
  *argumentIndex = 2;
  return host_protocol::kExceptionInvalidArgument;
}

bool ClientMenu::Find(const std::string& path, Entry* found) const {
  for (const Item& item : items_) {
    if (EqualNoCase(path, item.entry.text)) {
      *found = item.entry;
      return true;
    }
    const size_t prefix = item.entry.text.size() + 1;
    if (path.size() <= prefix || path[prefix - 1] != '/' || !EqualNoCase(path.substr(0, prefix - 1), item.entry.text)) {
      continue;
    }
    for (const Entry& sub : item.subItems) {
      if (EqualNoCase(path.substr(prefix), sub.text)) {
        *found = sub;
        return true;
      }
    }
  }
  return false;
}

std::string ClientMenu::Render() const {
  if (items_.empty()) return "(empty)";
  std::string text;
  for (const Item& item : items_) {
    if (!text.empty()) text += "; ";
    text += item.entry.text;
    if (item.subItems.empty()) continue;
    text += " [";
    for (size_t i = 0; i < item.subItems.size(); ++i) {
      if (i > 0) text += " | ";
      text += item.subItems[i].text;
    }
    text += "]";
  }
  return text;
}

}  // namespace simhost
