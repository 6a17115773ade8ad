// The client library's connection joined to a raw server: a SimConnect handle
// made straight over the transport (no configuration, no Open request) to a
// RawServer on a pipe of its own, so that a test sees the exact bytes of each
// request and feeds the client any bytes it likes.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/config_files.h"
#include "support/raw_endpoints.h"
#include "support/wait_until.h"

class SimConnectClient;

// Opens a connection object over the transport to the pipe at `path`, with
// `notifyEvent` as its event. Null when the connection attempt failed.
SimConnectClient* ConnectClientToPipe(const std::wstring& path, HANDLE notifyEvent,
                                      uint32_t maxReceiveSize = 41088);

struct LibraryLink {
  enum Via {
    kTransport,  // straight over the transport: no configuration, no Open request
    // SimConnect_Open through a section of its own in SimConnect.cfg of the
    // current folder (written while the link lives), as an application opens;
    // the server has read the Open request (SendID 1).
    kOpen,
  };
  // Connects; the server has accepted when connected() holds. `tag` names the
  // pipe (and the client, through Open); the limit holds over the transport.
  explicit LibraryLink(const char* tag, uint32_t maxReceiveSize = 41088, Via via = kTransport);
  ~LibraryLink();  // closes the handle unless the test did
  LibraryLink(const LibraryLink&) = delete;
  LibraryLink& operator=(const LibraryLink&) = delete;

  bool connected() const { return handle != nullptr; }
  // SimConnect_Close, once; the handle is then null.
  HRESULT Close();
  // True once the connection has failed (the server went, a bad size...).
  bool Failed() const;
  // The next message SimConnect_GetNextDispatch hands out, waiting for it up
  // to `timeoutMs`; empty when none came. `address` gets where it lies.
  std::vector<uint8_t> Next(DWORD timeoutMs = 5000, const void** address = nullptr);

  ConfigFiles files;
  TestEvent event;  // the connection's notification event
  std::unique_ptr<RawServer> server;
  HANDLE handle = nullptr;
};
