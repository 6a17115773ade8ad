// OpenConnection: settles the connection settings from the configuration files
// and tries the chain of connection attempts until one connects.
#include <winsock2.h>
#include <windows.h>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/transport/config.h"
#include "simconnect/transport/transport.h"

namespace {

// Stages of the chain. Each makes one attempt on a fresh client; a failed
// stage leads on to the next only when the address is the loopback one that
// the previous stage chose (or the local pipe server), so a configured remote
// host never falls back to anything local.
enum class Stage {
  LocalPipe,     // the configured pipe; "" or "." leads on to TCP over ::1
  Ipv6,          // TCP over IPv6; "::1" leads on to TCP over 127.0.0.1
  Ipv4,          // TCP over IPv4; "127.0.0.1" leads on to the default pipe
  DefaultPipe,   // the local default pipe; the last stage
};

Stage FirstStage(uint32_t protocol) {
  if (protocol == AF_INET6) return Stage::Ipv6;
  if (protocol == AF_INET) return Stage::Ipv4;
  return Stage::LocalPipe;
}

bool IsText(const wchar_t* text, const wchar_t* expected) { return lstrcmpiW(text, expected) == 0; }

void SetText(wchar_t (&target)[kConfigTextUnits], const wchar_t* source) {
  lstrcpynW(target, source, kConfigTextUnits);
}

// One attempt of `stage` on a fresh client. Ok with *connected set when it
// connected; Ok with *connected null when it failed (the client is already
// shut down); Unusable when the open must end at once (no Winsock, or no
// memory for the client).
ClientStatus Attempt(Stage stage, const ConnectionSettings& settings, SimConnectClient** connected) {
  *connected = nullptr;
  bool socket = stage == Stage::Ipv6 || stage == Stage::Ipv4;
  if (socket && !StartWinsock()) return ClientStatus::Unusable;

  SimConnectClient* client = SimConnectClient::Create(socket ? TransportKind::Socket : TransportKind::Pipe);
  if (client == nullptr) return ClientStatus::Unusable;

  bool ok = false;
  if (!socket) {
    ok = ConnectTransport(client, 0, settings.address, settings.port, settings.maxReceiveSize,
                          settings.disableNagle);
  } else if (settings.port[0] != L'\0') {
    // Without a port there is nothing to connect to: the stage counts as failed.
    int family = stage == Stage::Ipv6 ? AF_INET6 : AF_INET;
    ok = ConnectTransport(client, family, settings.address, settings.port, settings.maxReceiveSize,
                          settings.disableNagle);
  }
  if (!ok) {
    ShutdownConnection(client);
    return ClientStatus::Ok;
  }
  *connected = client;
  return ClientStatus::Ok;
}

// After `failed` failed: moves the settings on to the next stage and returns
// true, or returns false when the chain ends here.
bool NextStage(Stage failed, ConnectionSettings& settings, Stage* next) {
  switch (failed) {
    case Stage::LocalPipe:
      if (settings.address[0] != L'\0' && !IsText(settings.address, L".")) return false;
      SetText(settings.address, L"::1");
      ReadRegistryPort(true, settings.port);
      *next = Stage::Ipv6;
      return true;
    case Stage::Ipv6:
      if (!IsText(settings.address, L"::1")) return false;
      SetText(settings.address, L"127.0.0.1");
      ReadRegistryPort(false, settings.port);
      *next = Stage::Ipv4;
      return true;
    case Stage::Ipv4:
      if (!IsText(settings.address, L"127.0.0.1")) return false;
      SetText(settings.address, L".");
      settings.port[0] = L'\0';  // the simulator's default pipe name
      *next = Stage::DefaultPipe;
      return true;
    case Stage::DefaultPipe:
      return false;
  }
  return false;
}

}  // namespace

ClientStatus OpenConnection(SimConnectClient** client, uint32_t configIndex) {
  if (client == nullptr) return ClientStatus::Unusable;
  *client = nullptr;

  bool readFiles = configIndex != kConfigIndexDefault;
  wchar_t paths[3][260] = {};
  if (readFiles) ConfigFilePaths(paths);

  // A numbered section must exist, with at least one entry, in one of the files.
  if (readFiles && configIndex != 0) {
    bool found = false;
    for (const auto& path : paths) {
      if (path[0] != L'\0' && ConfigSectionExists(path, configIndex) == 0) {
        found = true;
        break;
      }
    }
    if (!found) return ClientStatus::InvalidConfigIndex;
  }

  ConnectionSettings settings;
  if (readFiles) {
    // Later files override earlier ones key by key: the current directory wins
    // over Documents, which wins over Public Documents.
    for (const auto& path : paths) {
      if (path[0] != L'\0') ReadConfigSection(path, configIndex, settings);
    }
  }

  Stage stage = FirstStage(settings.protocol);
  for (;;) {
    SimConnectClient* connected = nullptr;
    if (Attempt(stage, settings, &connected) != ClientStatus::Ok) return ClientStatus::Unusable;
    if (connected != nullptr) {
      *client = connected;
      connected->Channel().Register();
      return ClientStatus::Ok;
    }
    if (!NextStage(stage, settings, &stage)) return ClientStatus::Unusable;
  }
}
