// Move-only owners of the Win32 objects the server keeps locally; each type
// states its invalid value.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace simhost {

// A kernel handle whose invalid value is `Invalid` (null for events and
// threads, INVALID_HANDLE_VALUE for files and pipes).
template <HANDLE (*Invalid)()>
class UniqueHandleT {
 public:
  UniqueHandleT() = default;
  explicit UniqueHandleT(HANDLE handle) : handle_(handle) {}
  ~UniqueHandleT() { Reset(); }
  UniqueHandleT(UniqueHandleT&& other) noexcept : handle_(other.Release()) {}
  UniqueHandleT& operator=(UniqueHandleT&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandleT(const UniqueHandleT&) = delete;
  UniqueHandleT& operator=(const UniqueHandleT&) = delete;

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != Invalid(); }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = Invalid();
    return handle;
  }
  void Reset(HANDLE handle = Invalid()) {
    if (handle_ != Invalid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = Invalid();
};

inline HANDLE NullHandleValue() { return nullptr; }
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }

using UniqueHandle = UniqueHandleT<NullHandleValue>;        // events, threads
using UniqueFile = UniqueHandleT<InvalidHandleValue>;       // pipes, files

// A Winsock socket; INVALID_SOCKET when none.
class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(SOCKET socket) : socket_(socket) {}
  ~UniqueSocket() { Reset(); }
  UniqueSocket(UniqueSocket&& other) noexcept : socket_(other.Release()) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;

  SOCKET Get() const { return socket_; }
  bool Valid() const { return socket_ != INVALID_SOCKET; }
  SOCKET Release() {
    SOCKET socket = socket_;
    socket_ = INVALID_SOCKET;
    return socket;
  }
  void Reset(SOCKET socket = INVALID_SOCKET) {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = socket;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

// A manual-reset or auto-reset unnamed event.
inline UniqueHandle MakeEvent(bool manualReset) {
  return UniqueHandle(CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
}

}  // namespace simhost
