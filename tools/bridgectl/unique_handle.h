// Owners of the handles bridgectl holds: closed when the owner goes. The type
// says which value means "no handle".
#pragma once

#include <windows.h>

namespace bridgectl {

template <HANDLE (*Invalid)()>
class BasicUniqueHandle {
 public:
  BasicUniqueHandle() = default;
  explicit BasicUniqueHandle(HANDLE handle) : handle_(handle) {}
  ~BasicUniqueHandle() { Reset(); }
  BasicUniqueHandle(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle(BasicUniqueHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = Invalid(); }
  BasicUniqueHandle& operator=(BasicUniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.handle_;
      other.handle_ = Invalid();
    }
    return *this;
  }

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != Invalid(); }
  void Reset() {
    if (handle_ != Invalid()) CloseHandle(handle_);
    handle_ = Invalid();
  }

 private:
  HANDLE handle_ = Invalid();
};

inline HANDLE NullHandle() { return nullptr; }
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }

// Events and processes: null when empty.
using UniqueHandle = BasicUniqueHandle<NullHandle>;
// Files: INVALID_HANDLE_VALUE when empty.
using UniqueFile = BasicUniqueHandle<InvalidHandleValue>;

}  // namespace bridgectl
