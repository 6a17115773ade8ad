// One client's entries in the simulator's add-on menu: items, each with its
// sub-items, in the order they were added. No OS calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simhost {

class ClientMenu {
 public:
  struct Entry {
    std::string text;
    uint32_t eventId;
    uint32_t data;
  };
  struct Item {
    Entry entry;
    std::vector<Entry> subItems;
  };

  // Each returns host_protocol::kExceptionNone or the exception code, with the
  // index of the argument at fault (API argument order) in *argumentIndex.
  uint32_t AddItem(const std::string& text, uint32_t eventId, uint32_t data, uint32_t* argumentIndex);
  uint32_t AddSubItem(uint32_t parentEventId, const std::string& text, uint32_t subEventId, uint32_t data,
                      uint32_t* argumentIndex);
  uint32_t RemoveSubItem(uint32_t parentEventId, uint32_t subEventId, uint32_t* argumentIndex);

  // Finds an entry by its path, "Item" or "Item/Sub-item", compared without
  // regard to case. False when none matches.
  bool Find(const std::string& path, Entry* found) const;

  // One line: `TAVO.quin [About | Disable LVAR Access]; Other`; "(empty)" when
  // the client has no entries.
  std::string Render() const;

 private:
  Item* FindItem(uint32_t eventId);

  std::vector<Item> items_;
};

}  // namespace simhost
