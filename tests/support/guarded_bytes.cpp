#include "support/guarded_bytes.h"

#include <windows.h>

#include <cstring>

GuardedBytes::GuardedBytes(const std::vector<uint8_t>& bytes) : size_(bytes.size()) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  const size_t pages = (bytes.size() + page - 1) / page + 1;
  region_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, pages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old = 0;
  if (region_ == nullptr || !VirtualProtect(region_ + (pages - 1) * page, page, PAGE_NOACCESS, &old)) return;
  data_ = region_ + (pages - 1) * page - bytes.size();
  if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
}

GuardedBytes::~GuardedBytes() {
  if (region_ != nullptr) VirtualFree(region_, 0, MEM_RELEASE);
}
