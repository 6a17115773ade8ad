// SimConnect_Open: its own checks and its Open request, and where it connects:
// SimConnect.cfg in the three folders key by key, the configuration index, the
// simulator's registry ports, and the chain of attempts (the pipe, TCP over
// ::1, TCP over 127.0.0.1, the default pipe).
#include <gtest/gtest.h>

#include <string>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/transport/config.h"
#include "support/bytes.h"
#include "support/config_files.h"
#include "support/paths.h"
#include "support/raw_endpoints.h"

namespace {

constexpr DWORD kNoClientMs = 200;  // how long a server waits to be sure that no client came

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// SimConnect_Open with `index`; when it connects, `server` must have taken the
// connection and read a 296-byte Open request.
HRESULT OpenOn(uint32_t index, RawServer* server = nullptr) {
  HANDLE handle = reinterpret_cast<HANDLE>(1);
  HRESULT result = SimConnect_Open(&handle, "Chain", nullptr, 0, nullptr, index);
  if (result != S_OK) {
    EXPECT_EQ(handle, nullptr);
    return result;
  }
  EXPECT_TRUE(server != nullptr && server->Accept(2000) && server->ReadMessage().size() == 296u) << index;
  SimConnect_Close(handle);
  return result;
}

// The settings after reading a [SimConnect.5] of `lines` over `before`.
ConnectionSettings Read(std::initializer_list<std::string> lines, ConnectionSettings before = {}) {
  const std::wstring path = ConfigFiles::PathOf(ConfigFolder::kCurrent) + L".keys";
  ScopedFile file(path, CfgSection(5, lines));
  EXPECT_TRUE(file.written());
  ReadConfigSection(path.c_str(), 5, before);
  return before;
}

std::string Described(const ConnectionSettings& s) {
  return std::to_string(s.protocol) + " [" + Narrow(s.address) + "]:[" + Narrow(s.port) + "] limit " +
         std::to_string(s.maxReceiveSize) + (s.disableNagle ? " no Nagle" : "");
}

TEST(Config, EachKeyOfASectionFollowsItsOwnRule) {
  const ConnectionSettings all =
      Read({"Protocol=IPv6", "Address=sim-host", "Port=5001", "MaxReceiveSize=50000", "DisableNagle=1"});
  EXPECT_EQ(Described(all), "23 [sim-host]:[5001] limit 50000 no Nagle");
  // Protocol names in any case; an unknown name changes nothing.
  EXPECT_EQ(Read({"protocol=ipv4"}).protocol, 2u);
  EXPECT_EQ(Read({"Protocol=PIPE"}, all).protocol, 1u);
  EXPECT_EQ(Read({"Protocol=TCP"}, all).protocol, 23u);
  // The receive limit is only ever raised, compared unsigned.
  EXPECT_EQ(Read({"MaxReceiveSize=30000"}).maxReceiveSize, 41088u);
  EXPECT_EQ(Read({"MaxReceiveSize=-1"}, all).maxReceiveSize, 0xFFFFFFFFu);
  // Any nonzero number turns Nagle off; 0 or text turns it on.
  EXPECT_EQ(Read({"DisableNagle=7"}).disableNagle, true);
  EXPECT_EQ(Read({"DisableNagle=yes"}, all).disableNagle, false);
  // An empty value leaves its key; texts are cut to 1023 units.
  EXPECT_EQ(Described(Read({"Protocol=", "Address=", "Port=", "MaxReceiveSize=", "DisableNagle="}, all)),
            Described(all));
  const ConnectionSettings cut = Read({"Address=" + std::string(1500, 'a'), "Port=" + std::string(1100, 'p')});
  EXPECT_EQ(Narrow(cut.address) + Narrow(cut.port), std::string(1023, 'a') + std::string(1023, 'p'));
  // Switching to TCP swaps a port held from an earlier file for the registry's port
  // of that family (empty without one); a Port of the same section wins.
  RegistryPorts registry;
  ASSERT_TRUE(registry.Set(false, L"7004"));
  ConnectionSettings held;
  lstrcpyW(held.port, L"7001");
  EXPECT_EQ(Narrow(Read({"Protocol=IPv4"}, held).port), "7004");
  EXPECT_EQ(Narrow(Read({"Protocol=IPv6"}, held).port), "");
  EXPECT_EQ(Narrow(Read({"Protocol=IPv4", "Port=7002"}, held).port), "7002");
  EXPECT_EQ(Narrow(Read({"Protocol=IPv4"}).port), "");
  // A section exists when it holds an entry, however long.
  const std::wstring path = ConfigFiles::PathOf(ConfigFolder::kCurrent) + L".sections";
  ScopedFile sections(path, CfgSection(12, {"Address=" + std::string(100, 'h')}) + CfgSection(2, {}));
  EXPECT_EQ(ConfigSectionExists(path.c_str(), 12), 0u);
  EXPECT_EQ(ConfigSectionExists(path.c_str(), 1), 3u) << "SimConnect.1 is not SimConnect.12";
  EXPECT_EQ(ConfigSectionExists(path.c_str(), 2), 3u) << "present but empty";
}

TEST(Config, RegistryPortsAreTenUnitsOfWhateverTheValueHolds) {
  RegistryPorts registry;
  const auto portAfterRead = [](bool ipv6, const wchar_t* before) {
    wchar_t port[kConfigTextUnits];
    lstrcpynW(port, before, kConfigTextUnits);
    ReadRegistryPort(ipv6, port);
    return Narrow(port);
  };
  EXPECT_EQ(portAfterRead(false, L"stale"), "") << "a missing value empties the port";
  // Nine units and the terminator fill the 20 bytes; one more does not fit.
  ASSERT_TRUE(registry.Set(false, L"123456789"));
  EXPECT_EQ(portAfterRead(false, L"stale"), "123456789");
  ASSERT_TRUE(registry.Set(false, L"1234567890"));
  EXPECT_EQ(portAfterRead(false, L"stale"), "");
  // The type is not checked, and text without a terminator ends with its bytes.
  ASSERT_TRUE(registry.SetRaw(true, REG_BINARY, L"77", 4));
  EXPECT_EQ(portAfterRead(true, L"999999"), "77");
}

TEST(Config, TheThreeFoldersDecideKeyByKeyAndANumberedSectionMustExist) {
  const std::wstring publicPipe = UniquePipePath("public"), currentPipe = UniquePipePath("current");
  auto publicServer = RawServer::ListenPipe(publicPipe);
  auto currentServer = RawServer::ListenPipe(currentPipe);
  auto defaultServer = RawServer::ListenPipe(endpoints::kDefaultPipePath);
  ASSERT_TRUE(publicServer && currentServer && defaultServer);
  // Public Documents leads to TCP on a host that does not resolve; Documents
  // turns back to the pipe; the current directory names the local pipe.
  const std::string publicPort = "Port=" + Narrow(PipeNameOf(publicPipe)), currentPort = "Port=" + Narrow(PipeNameOf(currentPipe));
  ConfigFiles files;
  ASSERT_TRUE(files.Write(ConfigFolder::kPublicDocuments,
                          CfgSection(0, {"Protocol=IPv6", "Address=nohost.invalid", publicPort}) +
                              CfgSection(8, {publicPort})));
  ASSERT_TRUE(files.Write(ConfigFolder::kDocuments, CfgSection(0, {"Protocol=Pipe"}) + CfgSection(7, {})));
  ASSERT_TRUE(files.Write(ConfigFolder::kCurrent, CfgSection(0, {"Address=.", currentPort}) + CfgSection(8, {currentPort})));
  EXPECT_EQ(OpenOn(0, currentServer.get()), S_OK);
  // Section 8 is read from every file that has it; 7 exists but is empty and 9
  // exists nowhere: neither makes any attempt, not even the default pipe.
  currentServer = nullptr;
  currentServer = RawServer::ListenPipe(currentPipe);
  EXPECT_EQ(OpenOn(8, currentServer.get()), S_OK);
  EXPECT_EQ(OpenOn(7), E_INVALIDARG);
  EXPECT_EQ(OpenOn(9), E_INVALIDARG);
  EXPECT_FALSE(defaultServer->Accept(kNoClientMs));
  // The default index leaves the files aside: the default pipe.
  EXPECT_EQ(OpenOn(kConfigIndexDefault, defaultServer.get()), S_OK);
  EXPECT_FALSE(publicServer->Accept(kNoClientMs));
}

TEST(Config, TheChainGoesOnFromLoopbackOnlyAndEndsAtTheDefaultPipe) {
  // Section 1: a local pipe nobody serves; the chain goes on to the registry
  // ports. Sections 2 and 3 name "localhost", not a loopback address as the
  // chain knows them: a failure there ends it.
  const std::string nobody = "Port=" + Narrow(PipeNameOf(UniquePipePath("nobody")));
  ConfigFiles files;
  ASSERT_TRUE(files.Write(ConfigFolder::kCurrent, CfgSection(1, {"Protocol=Pipe", "Address=.", nobody}) +
                                                      CfgSection(2, {"Protocol=Pipe", "Address=localhost", nobody}) +
                                                      CfgSection(3, {"Protocol=IPv6", "Address=localhost", "Port=1"})));
  RegistryPorts registry;
  auto server6 = RawServer::ListenTcp(AF_INET6);
  auto server4 = RawServer::ListenTcp(AF_INET);
  const uint16_t closed = RawServer::ListenTcp(AF_INET)->Port();
  ASSERT_TRUE(server6 && server4);
  ASSERT_TRUE(registry.Set(true, server6->Port()) && registry.Set(false, server4->Port()));
  EXPECT_EQ(OpenOn(1, server6.get()), S_OK);  // server4 listens on 127.0.0.1 only
  ASSERT_TRUE(registry.Set(true, closed));
  EXPECT_EQ(OpenOn(1, server4.get()), S_OK);
  ASSERT_TRUE(registry.Set(false, closed));
  auto defaultServer = RawServer::ListenPipe(endpoints::kDefaultPipePath);
  EXPECT_EQ(OpenOn(1, defaultServer.get()), S_OK);
  // Listeners everywhere, yet a remote pipe or host fails alone.
  defaultServer = nullptr;
  defaultServer = RawServer::ListenPipe(endpoints::kDefaultPipePath);
  ASSERT_TRUE(registry.Set(true, server6->Port()) && registry.Set(false, server4->Port()));
  EXPECT_EQ(OpenOn(2), E_FAIL);
  EXPECT_EQ(OpenOn(3), E_FAIL);
  EXPECT_FALSE(defaultServer->Accept(kNoClientMs));
  EXPECT_FALSE(server6->Accept(kNoClientMs));
  EXPECT_FALSE(server4->Accept(kNoClientMs));
  // Nothing to reach: every stage fails and nothing stays open.
  defaultServer = nullptr;
  registry.Clear();
  EXPECT_EQ(OpenOn(kConfigIndexDefault), E_FAIL);
  EXPECT_EQ(LiveConnections(), 0u);
}

TEST(Open, SendsTheOpenRequestThenNumbersRequestsFromTwo) {
  const std::wstring path = UniquePipePath("open");
  ConfigFiles files;
  ASSERT_TRUE(files.Write(ConfigFolder::kCurrent, PipeSection(3, path)));
  std::unique_ptr<RawServer> server = RawServer::ListenPipe(path);
  HANDLE handle = reinterpret_cast<HANDLE>(1);
  EXPECT_EQ(SimConnect_Open(nullptr, "x", nullptr, 0, nullptr, 3), E_INVALIDARG);
  EXPECT_EQ(SimConnect_Open(&handle, nullptr, nullptr, 0, nullptr, 3), E_INVALIDARG);
  EXPECT_FALSE(server->Accept(kNoClientMs)) << "refused before connecting";
  // A name of 256 characters: connected, then torn down without a request.
  EXPECT_EQ(SimConnect_Open(&handle, std::string(256, 'n').c_str(), nullptr, 0, nullptr, 3), kResultStringTooLong);
  EXPECT_EQ(handle, nullptr);
  ASSERT_TRUE(server->Accept());
  EXPECT_TRUE(server->WaitForClientClose());
  EXPECT_EQ(LiveConnections(), 0u);
  // 255 characters fill the field; the magic number travels as 00 44 33 50.
  server = nullptr;
  server = RawServer::ListenPipe(path);
  const std::string name(255, 'n');
  ASSERT_EQ(SimConnect_Open(&handle, name.c_str(), nullptr, 0, nullptr, 3), S_OK);
  ASSERT_TRUE(server->Accept());
  EXPECT_EQ(server->ReadMessage(), Bytes(296).Header(0xF0000001, 1).Text(16, name).U32(276, 0x50334400)
                                       .U32(280, 6).vec());
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(handle, 1, 2), S_OK);
  EXPECT_EQ(server->ReadMessage(), Bytes(24).Header(0xF0000034, 2).U32(16, 1).U32(20, 2).vec());
  // Nothing left to send: the close still succeeds.
  EXPECT_EQ(SimConnect_Close(handle), S_OK);
  EXPECT_TRUE(server->WaitForClientClose());
  EXPECT_EQ(LiveConnections(), 0u);
}

}  // namespace
