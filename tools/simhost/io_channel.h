// One client's byte stream, over a named-pipe instance or an accepted TCP
// socket, with one overlapped read and one overlapped write at a time, each
// signalling its own manual-reset event. Only the connection's own thread
// issues and finishes operations; it also outlives them (Wine cancels
// overlapped I/O when the issuing thread exits).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>

#include "win_handles.h"

namespace simhost {

class IoChannel {
 public:
  virtual ~IoChannel() = default;

  // Issues the read into `buffer`, which must stay valid until it finishes.
  // False when it failed at once (the client is gone).
  virtual bool StartRead(uint8_t* buffer, uint32_t size) = 0;
  // After ReadEvent() is signalled: the bytes read; 0 when the client closed
  // its end or the read failed.
  virtual uint32_t FinishRead() = 0;
  // Issues a write of `size` bytes at `data`, valid until it finishes.
  virtual bool StartWrite(const uint8_t* data, uint32_t size) = 0;
  // After WriteEvent() is signalled: false when the write failed; otherwise
  // *written bytes went out (possibly fewer than asked).
  virtual bool FinishWrite(uint32_t* written) = 0;
  // Ends the connection: closes the handle, which cancels what is
  // outstanding, and waits up to `timeoutMs` for those operations to finish.
  // True when none is left running (their buffers may then be freed).
  virtual bool Close(DWORD timeoutMs) = 0;

  HANDLE ReadEvent() const { return readEvent_.Get(); }
  HANDLE WriteEvent() const { return writeEvent_.Get(); }

 protected:
  IoChannel() : readEvent_(MakeEvent(true)), writeEvent_(MakeEvent(true)) {}
  // Waits for the operations still pending after the handle was closed.
  bool WaitForPending(DWORD timeoutMs);

  UniqueHandle readEvent_;
  UniqueHandle writeEvent_;
  bool readPending_ = false;
  bool writePending_ = false;
};

// Takes ownership of a connected pipe instance (opened for overlapped I/O).
std::unique_ptr<IoChannel> MakePipeChannel(HANDLE pipe);
// Takes ownership of an accepted socket.
std::unique_ptr<IoChannel> MakeSocketChannel(SOCKET socket);

}  // namespace simhost
