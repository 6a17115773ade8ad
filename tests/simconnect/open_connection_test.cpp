// SimConnect_Open end to end: which endpoint the configuration files, the
// configuration index and the registry ports lead to, and the chain of
// attempts (pipe, TCP over ::1, TCP over 127.0.0.1, pipe again). Servers are
// RawServers on real pipes and loopback sockets; each reads the 296-byte Open
// request that the client sends once connected.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/transport/config.h"
#include "support/bytes.h"
#include "support/config_env.h"
#include "support/raw_server.h"
#include "support/test_env.h"

namespace {

constexpr wchar_t kDefaultPipe[] = L"\\\\.\\pipe\\Lockheed Martin Prepar3D v6\\SimConnect";
constexpr HRESULT kInvalidArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kFailed = static_cast<HRESULT>(0x80004005);
// How long a server waits to be sure that no client came.
constexpr DWORD kNoClientMs = 200;

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow += static_cast<char>(c);
  return narrow;
}

// SimConnect.cfg in Public Documents, Documents and the current directory,
// written for one test; whatever was there before is put back afterwards.
class FolderFiles {
 public:
  FolderFiles() { ConfigFilePaths(paths_); }
  ~FolderFiles() {
    for (int i = 0; i < 3; ++i) {
      if (!wrote_[i]) continue;
      if (hadOld_[i]) {
        WriteWholeFile(paths_[i], old_[i]);
      } else {
        DeleteFileW(paths_[i]);
      }
    }
  }
  FolderFiles(const FolderFiles&) = delete;
  FolderFiles& operator=(const FolderFiles&) = delete;

  // folder: 0 Public Documents, 1 Documents, 2 current directory.
  bool Write(int folder, const std::string& text) {
    if (paths_[folder][0] == L'\0') return false;
    if (!wrote_[folder]) hadOld_[folder] = ReadWholeFile(paths_[folder], &old_[folder]);
    wrote_[folder] = true;
    return WriteWholeFile(paths_[folder], text);
  }

 private:
  wchar_t paths_[3][260];
  std::string old_[3];
  bool hadOld_[3] = {};
  bool wrote_[3] = {};
};

// A handle from SimConnect_Open, closed when the test is done with it.
class OpenHandle {
 public:
  OpenHandle() = default;
  ~OpenHandle() { Close(); }
  OpenHandle(const OpenHandle&) = delete;
  OpenHandle& operator=(const OpenHandle&) = delete;

  HRESULT Open(const char* name, uint32_t configIndex) {
    Close();
    handle_ = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xBAD));  // must be overwritten
    return SimConnect_Open(&handle_, name, nullptr, 0, nullptr, configIndex);
  }
  void Close() {
    if (handle_ != nullptr && handle_ != reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xBAD))) {
      SimConnect_Close(handle_);
    }
    handle_ = nullptr;
  }
  HANDLE handle() const { return handle_; }
  SimConnectClient* client() const { return static_cast<SimConnectClient*>(handle_); }

 private:
  HANDLE handle_ = nullptr;
};

// The server's client sent the 296-byte Open request naming `name`.
void ExpectOpenRequest(RawServer& server, const char* name) {
  ASSERT_TRUE(server.Accept());
  std::vector<uint8_t> open = server.ReadMessage();
  ASSERT_EQ(296u, open.size());
  EXPECT_EQ(296u, U32At(open, 0));
  EXPECT_EQ(37u, U32At(open, 4));
  EXPECT_EQ(0xF0000001u, U32At(open, 8));
  EXPECT_EQ(0, std::memcmp(open.data() + 16, name, std::strlen(name) + 1));
}

}  // namespace

TEST(OpenConnectionTest, TheThreeFoldersDecideTheEndpointKeyByKey) {
  std::wstring publicPipe = UniquePipePath("public");
  std::wstring currentPipe = UniquePipePath("current");
  auto publicServer = RawServer::ListenPipe(publicPipe);
  auto currentServer = RawServer::ListenPipe(currentPipe);
  auto defaultServer = RawServer::ListenPipe(kDefaultPipe);
  ASSERT_TRUE(publicServer && currentServer && defaultServer);

  // Public Documents alone would lead to TCP on a host that does not resolve;
  // Documents turns the protocol back to the pipe and raises the limit; the
  // current directory names the local server and its own pipe.
  FolderFiles files;
  ASSERT_TRUE(files.Write(0, "[SimConnect]\r\nProtocol=IPv6\r\nAddress=nohost.invalid\r\nPort=" +
                                 Narrow(PipeNameOf(publicPipe)) +
                                 "\r\nMaxReceiveSize=50000\r\nDisableNagle=1\r\n"));
  ASSERT_TRUE(files.Write(1, "[SimConnect]\r\nProtocol=Pipe\r\nMaxReceiveSize=60000\r\n"));
  ASSERT_TRUE(files.Write(2, "[SimConnect]\r\nAddress=.\r\nPort=" + Narrow(PipeNameOf(currentPipe)) +
                                 "\r\nMaxReceiveSize=45000\r\n"));

  OpenHandle open;
  ASSERT_EQ(S_OK, open.Open("Folders", 0));
  ExpectOpenRequest(*currentServer, "Folders");
  EXPECT_EQ(TransportKind::Pipe, open.client()->Kind());
  EXPECT_EQ(60000u, open.client()->maxReceiveSize);
  EXPECT_TRUE(open.client()->disableNagle);
  EXPECT_FALSE(publicServer->Accept(kNoClientMs));
  EXPECT_FALSE(defaultServer->Accept(kNoClientMs));
}

TEST(OpenConnectionTest, ANumberedSectionMustHoldAnEntryInSomeFile) {
  std::wstring sectionPipe = UniquePipePath("section8");
  std::wstring mainPipe = UniquePipePath("main");
  auto sectionServer = RawServer::ListenPipe(sectionPipe);
  auto mainServer = RawServer::ListenPipe(mainPipe);
  auto defaultServer = RawServer::ListenPipe(kDefaultPipe);
  ASSERT_TRUE(sectionServer && mainServer && defaultServer);

  FolderFiles files;
  ASSERT_TRUE(files.Write(0, "[SimConnect]\r\nPort=" + Narrow(PipeNameOf(mainPipe)) +
                                 "\r\n[SimConnect.8]\r\nPort=" + Narrow(PipeNameOf(sectionPipe)) + "\r\n"));
  ASSERT_TRUE(files.Write(1, "[SimConnect.7]\r\n"));
  ASSERT_TRUE(files.Write(2, "[SimConnect.8]\r\nAddress=.\r\n"));

  // Section 7 exists but is empty; section 9 exists nowhere. Neither attempts
  // any connection, not even the default pipe.
  OpenHandle open;
  EXPECT_EQ(kInvalidArgument, open.Open("Seven", 7));
  EXPECT_EQ(nullptr, open.handle());
  EXPECT_EQ(kInvalidArgument, open.Open("Nine", 9));
  EXPECT_EQ(nullptr, open.handle());
  EXPECT_EQ(0u, LiveConnections());
  EXPECT_FALSE(defaultServer->Accept(kNoClientMs));

  // Section 8 is read from every file that has it, and only section 8.
  ASSERT_EQ(S_OK, open.Open("Eight", 8));
  ExpectOpenRequest(*sectionServer, "Eight");
  EXPECT_FALSE(mainServer->Accept(kNoClientMs));
}

TEST(OpenConnectionTest, TheDefaultIndexIgnoresTheFilesAndIndexZeroNeedsNone) {
  {
    std::wstring filePipe = UniquePipePath("file");
    auto fileServer = RawServer::ListenPipe(filePipe);
    auto defaultServer = RawServer::ListenPipe(kDefaultPipe);
    ASSERT_TRUE(fileServer && defaultServer);
    FolderFiles files;
    const std::string text = "[SimConnect]\r\nProtocol=Pipe\r\nAddress=.\r\nPort=" + Narrow(PipeNameOf(filePipe)) +
                             "\r\nMaxReceiveSize=60000\r\nDisableNagle=1\r\n";
    ASSERT_TRUE(files.Write(0, text));
    ASSERT_TRUE(files.Write(1, text));
    ASSERT_TRUE(files.Write(2, text));

    OpenHandle open;
    ASSERT_EQ(S_OK, open.Open("Default index", kConfigIndexDefault));
    ExpectOpenRequest(*defaultServer, "Default index");
    EXPECT_EQ(41088u, open.client()->maxReceiveSize);
    EXPECT_FALSE(open.client()->disableNagle);
    EXPECT_FALSE(fileServer->Accept(kNoClientMs));
  }

  // No file anywhere: index 0 runs the same default chain.
  auto defaultServer = RawServer::ListenPipe(kDefaultPipe);
  ASSERT_TRUE(defaultServer);
  OpenHandle open;
  ASSERT_EQ(S_OK, open.Open("Index zero", 0));
  ExpectOpenRequest(*defaultServer, "Index zero");
  EXPECT_EQ(41088u, open.client()->maxReceiveSize);
}

TEST(OpenConnectionTest, WithoutThePipeTheChainUsesTheRegistryPortsOnIpv6ThenIpv4Loopback) {
  RegistryPorts registry;
  {
    auto server6 = RawServer::ListenTcp(AF_INET6);
    ASSERT_TRUE(server6) << "no ::1 listener";
    ASSERT_TRUE(registry.Set(true, server6->Port()));

    OpenHandle open;
    ASSERT_EQ(S_OK, open.Open("Over IPv6", kConfigIndexDefault));
    EXPECT_EQ(TransportKind::Socket, open.client()->Kind());
    ExpectOpenRequest(*server6, "Over IPv6");
  }

  // Both registry ports name a port on which only 127.0.0.1 listens: the IPv6
  // attempt is refused and the IPv4 one connects.
  auto server4 = RawServer::ListenTcp(AF_INET);
  ASSERT_TRUE(server4);
  ASSERT_TRUE(registry.Set(true, server4->Port()));
  ASSERT_TRUE(registry.Set(false, server4->Port()));
  OpenHandle open;
  ASSERT_EQ(S_OK, open.Open("Over IPv4", kConfigIndexDefault));
  EXPECT_EQ(TransportKind::Socket, open.client()->Kind());
  ExpectOpenRequest(*server4, "Over IPv4");
}

TEST(OpenConnectionTest, OnlyLoopbackAddressesLeadOnToTheNextStage) {
  auto defaultServer = RawServer::ListenPipe(kDefaultPipe);
  auto server6 = RawServer::ListenTcp(AF_INET6);
  auto server4 = RawServer::ListenTcp(AF_INET);
  ASSERT_TRUE(defaultServer && server6 && server4);
  ASSERT_NE(server6->Port(), server4->Port());
  RegistryPorts registry;
  ASSERT_TRUE(registry.Set(true, server6->Port()));
  ASSERT_TRUE(registry.Set(false, server4->Port()));

  // A pipe on the server "localhost" that nobody serves, and TCP to "localhost"
  // on a port where nothing listens on ::1: each fails alone, although every
  // later stage would have found a listener.
  FolderFiles files;
  ASSERT_TRUE(files.Write(2, "[SimConnect]\r\nProtocol=Pipe\r\nAddress=localhost\r\nPort=" +
                                 Narrow(PipeNameOf(UniquePipePath("nobody"))) +
                                 "\r\n[SimConnect.1]\r\nProtocol=IPv6\r\nAddress=localhost\r\nPort=" +
                                 std::to_string(server4->Port()) + "\r\n"));
  OpenHandle open;
  EXPECT_EQ(kFailed, open.Open("Remote pipe", 0));
  EXPECT_EQ(nullptr, open.handle());
  EXPECT_EQ(kFailed, open.Open("Remote TCP", 1));
  EXPECT_EQ(nullptr, open.handle());

  EXPECT_FALSE(defaultServer->Accept(kNoClientMs));
  EXPECT_FALSE(server6->Accept(kNoClientMs));
  EXPECT_FALSE(server4->Accept(kNoClientMs));
  EXPECT_EQ(0u, LiveConnections());
}

TEST(OpenConnectionTest, WithNothingToReachEveryStageRunsOnceAndNothingStaysOpen) {
  RegistryPorts registry;  // no ports: both TCP stages make no attempt

  // Each attempt's client stays listed for at least the 100 ms before it is
  // unlinked, and 250 ms pass before the next one is created, so sampling the
  // connection list sees every attempt as one run of a non-empty list.
  std::atomic<bool> done{false};
  HRESULT result = S_OK;
  HANDLE handle = nullptr;
  std::thread opener([&] {
    result = SimConnect_Open(&handle, "Nothing", nullptr, 0, nullptr, kConfigIndexDefault);
    done.store(true);
  });
  std::vector<TransportKind> attempts;
  bool listed = false;
  while (!done.load()) {
    std::vector<TransportKind> kinds;
    ForEachConnection([&](SimConnectClient* client) { kinds.push_back(client->Kind()); });
    if (!kinds.empty() && !listed) attempts.push_back(kinds.front());
    listed = !kinds.empty();
    Sleep(1);
  }
  opener.join();

  EXPECT_EQ(kFailed, result);
  EXPECT_EQ(nullptr, handle);
  EXPECT_EQ((std::vector<TransportKind>{TransportKind::Pipe, TransportKind::Socket, TransportKind::Socket,
                                        TransportKind::Pipe}),
            attempts);
  EXPECT_TRUE(WaitUntil([] { return LiveConnections() == 0; }));
}
