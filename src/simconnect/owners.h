// Move-only owners of the Win32 objects that code holds: each closes its
// object when it goes. An owner type knows the value that means "none" and
// the call that closes; the client library, the tools and the tests use these.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

template <typename T, T (*None)(), void (*Close)(T)>
class Owner {
 public:
  Owner() = default;
  explicit Owner(T value) : value_(value) {}
  ~Owner() { Reset(); }
  Owner(Owner&& other) noexcept : value_(other.Release()) {}
  Owner& operator=(Owner&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;

  T Get() const { return value_; }
  bool Valid() const { return value_ != None(); }
  // For a function that hands the object out through a pointer.
  T* Receive() {
    Reset();
    return &value_;
  }
  T Release() {
    T value = value_;
    value_ = None();
    return value;
  }
  void Reset(T value = None()) {
    if (value_ != None()) Close(value_);
    value_ = value;
  }

 private:
  T value_ = None();
};

namespace owner_detail {
inline HANDLE NullHandle() { return nullptr; }
inline HANDLE InvalidHandle() { return INVALID_HANDLE_VALUE; }
inline void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }
inline SOCKET NoSocket() { return INVALID_SOCKET; }
inline void CloseSocket(SOCKET socket) { closesocket(socket); }
inline HKEY NoKey() { return nullptr; }
inline void CloseKey(HKEY key) { RegCloseKey(key); }
inline ADDRINFOW* NoAddresses() { return nullptr; }
inline void FreeAddresses(ADDRINFOW* list) { FreeAddrInfoW(list); }
}  // namespace owner_detail

// Events, threads, processes: null when none.
using UniqueHandle = Owner<HANDLE, owner_detail::NullHandle, owner_detail::CloseKernelHandle>;
// Files and pipes: INVALID_HANDLE_VALUE when none.
using UniqueFile = Owner<HANDLE, owner_detail::InvalidHandle, owner_detail::CloseKernelHandle>;
using UniqueSocket = Owner<SOCKET, owner_detail::NoSocket, owner_detail::CloseSocket>;
using UniqueRegistryKey = Owner<HKEY, owner_detail::NoKey, owner_detail::CloseKey>;
// The result list of GetAddrInfoW.
using UniqueAddressList = Owner<ADDRINFOW*, owner_detail::NoAddresses, owner_detail::FreeAddresses>;
