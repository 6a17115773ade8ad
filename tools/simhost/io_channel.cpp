// Overlapped reads and writes on a pipe instance or an accepted socket.
#include "io_channel.h"

namespace simhost {

bool IoChannel::WaitForPending(DWORD timeoutMs) {
  HANDLE pending[2];
  DWORD count = 0;
  if (readPending_) pending[count++] = readEvent_.Get();
  if (writePending_) pending[count++] = writeEvent_.Get();
  if (count == 0) return true;
  // A cancelled operation still signals its event once it has finished with
  // its buffer (under Wine about 0.7 ms after the handle was closed).
  if (WaitForMultipleObjects(count, pending, TRUE, timeoutMs) != WAIT_OBJECT_0) return false;
  readPending_ = writePending_ = false;
  return true;
}

namespace {

class PipeChannel : public IoChannel {
 public:
  explicit PipeChannel(HANDLE pipe) : pipe_(pipe) {}
  ~PipeChannel() override { Close(2000); }

  bool StartRead(uint8_t* buffer, uint32_t size) override {
    return Issue(&readOverlapped_, readEvent_.Get(), &readPending_, [&](OVERLAPPED* o) {
      return ReadFile(pipe_.Get(), buffer, size, nullptr, o);
    });
  }

  uint32_t FinishRead() override { return Finish(&readOverlapped_, &readPending_); }

  bool StartWrite(const uint8_t* data, uint32_t size) override {
    return Issue(&writeOverlapped_, writeEvent_.Get(), &writePending_, [&](OVERLAPPED* o) {
      return WriteFile(pipe_.Get(), data, size, nullptr, o);
    });
  }

  bool FinishWrite(uint32_t* written) override {
    *written = Finish(&writeOverlapped_, &writePending_);
    return *written != 0;
  }

  bool Close(DWORD timeoutMs) override {
    // The instance is closed, not disconnected: DisconnectNamedPipe would throw
    // away bytes (the quit message) that the client has not read yet.
    pipe_.Reset();
    return WaitForPending(timeoutMs);
  }

 private:
  template <typename Call>
  bool Issue(OVERLAPPED* overlapped, HANDLE event, bool* pending, Call&& call) {
    if (!pipe_.Valid()) return false;
    *overlapped = OVERLAPPED{};
    overlapped->hEvent = event;
    ResetEvent(event);
    // Completed at once or pending: either way the event is signalled when done.
    if (!call(overlapped) && GetLastError() != ERROR_IO_PENDING) return false;
    *pending = true;
    return true;
  }

  uint32_t Finish(OVERLAPPED* overlapped, bool* pending) {
    *pending = false;
    DWORD bytes = 0;
    if (!GetOverlappedResult(pipe_.Get(), overlapped, &bytes, FALSE)) return 0;
    return bytes;
  }

  UniqueFile pipe_;
  OVERLAPPED readOverlapped_{};
  OVERLAPPED writeOverlapped_{};
};

class SocketChannel : public IoChannel {
 public:
  explicit SocketChannel(SOCKET socket) : socket_(socket) {}
  ~SocketChannel() override { Close(2000); }

  bool StartRead(uint8_t* buffer, uint32_t size) override {
    if (!socket_.Valid()) return false;
    readOverlapped_ = WSAOVERLAPPED{};
    readOverlapped_.hEvent = readEvent_.Get();
    ResetEvent(readEvent_.Get());
    WSABUF buf{size, reinterpret_cast<char*>(buffer)};
    DWORD flags = 0;
    if (WSARecv(socket_.Get(), &buf, 1, nullptr, &flags, &readOverlapped_, nullptr) != 0 &&
        WSAGetLastError() != WSA_IO_PENDING) {
      return false;
    }
    readPending_ = true;
    return true;
  }

  uint32_t FinishRead() override { return Finish(&readOverlapped_, &readPending_); }

  bool StartWrite(const uint8_t* data, uint32_t size) override {
    if (!socket_.Valid()) return false;
    writeOverlapped_ = WSAOVERLAPPED{};
    writeOverlapped_.hEvent = writeEvent_.Get();
    ResetEvent(writeEvent_.Get());
    WSABUF buf{size, reinterpret_cast<char*>(const_cast<uint8_t*>(data))};
    if (WSASend(socket_.Get(), &buf, 1, nullptr, 0, &writeOverlapped_, nullptr) != 0 &&
        WSAGetLastError() != WSA_IO_PENDING) {
      return false;
    }
    writePending_ = true;
    return true;
  }

  bool FinishWrite(uint32_t* written) override {
    *written = Finish(&writeOverlapped_, &writePending_);
    return *written != 0;
  }

  bool Close(DWORD timeoutMs) override {
    if (socket_.Valid()) {
      // Send what is queued (the quit message) before the end of the stream.
      shutdown(socket_.Get(), SD_SEND);
      socket_.Reset();
    }
    return WaitForPending(timeoutMs);
  }

 private:
  uint32_t Finish(WSAOVERLAPPED* overlapped, bool* pending) {
    *pending = false;
    DWORD bytes = 0;
    DWORD flags = 0;
    if (!WSAGetOverlappedResult(socket_.Get(), overlapped, &bytes, FALSE, &flags)) return 0;
    return bytes;
  }

  UniqueSocket socket_;
  WSAOVERLAPPED readOverlapped_{};
  WSAOVERLAPPED writeOverlapped_{};
};

}  // namespace

std::unique_ptr<IoChannel> MakePipeChannel(HANDLE pipe) { return std::unique_ptr<IoChannel>(new PipeChannel(pipe)); }

std::unique_ptr<IoChannel> MakeSocketChannel(SOCKET socket) {
  return std::unique_ptr<IoChannel>(new SocketChannel(socket));
}

}  // namespace simhost
