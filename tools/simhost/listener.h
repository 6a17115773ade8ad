// Where clients come in: a named pipe with a fresh instance waiting for each
// next client (as many instances as clients), and TCP listeners on ::1 and
// 127.0.0.1. One thread waits for all of them and hands each connected client,
// as an IoChannel, to the server.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "io_channel.h"
#include "win_handles.h"

namespace simhost {

struct ListenerOptions {
  std::wstring pipePath;  // full path, \\.\pipe\...; empty: no pipe
  bool tcp6 = true;       // listen on ::1
  bool tcp4 = true;       // listen on 127.0.0.1
  uint16_t port6 = 0;     // 0: a port the system chooses
  uint16_t port4 = 0;
};

class Listener {
 public:
  // Called on the listener thread for each client; `transport` is "pipe",
  // "tcp6" or "tcp4".
  using ClientHandler = std::function<void(std::unique_ptr<IoChannel> channel, const char* transport)>;

  Listener() = default;
  ~Listener() { Stop(); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Creates the first pipe instance and binds the sockets (so that a pipe name
  // or port already in use fails here, with `error` saying which), then starts
  // the thread. Winsock must be started.
  bool Start(const ListenerOptions& options, ClientHandler onClient, std::string* error);
  // Stops accepting and closes the waiting pipe instance and the listeners.
  void Stop();

  uint16_t Port6() const { return port6_; }
  uint16_t Port4() const { return port4_; }

 private:
  bool CreatePipeInstance(bool first);
  bool ListenTcp(int family, uint16_t port, UniqueSocket* listener, UniqueHandle* event, uint16_t* bound,
                 std::string* error);
  void Run();
  // Issues ConnectNamedPipe on the waiting instance; false when it failed.
  bool WaitForPipeClient();
  void AcceptPipeClient();
  void AcceptTcpClients(SOCKET listener, HANDLE event, const char* transport);

  ListenerOptions options_;
  ClientHandler onClient_;
  UniqueHandle stopEvent_;
  std::thread thread_;

  // The listener thread's own state (set up by Start before the thread runs).
  UniqueFile pipe_;            // the instance waiting for the next client
  UniqueHandle pipeEvent_;     // its ConnectNamedPipe completion
  OVERLAPPED pipeOverlapped_{};
  bool pipeConnectPending_ = false;
  UniqueSocket socket6_, socket4_;
  UniqueHandle event6_, event4_;
  uint16_t port6_ = 0;
  uint16_t port4_ = 0;
};

}  // namespace simhost
