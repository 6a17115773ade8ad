// How bridgectl.exe reaches a SimConnect server (the default chain, a chosen
// pipe, TCP over IPv4 and IPv6, a configuration index) and how it reports a
// server that is not there and a server without the bridge. It writes nothing
// that outlives the run.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "bridge_host.h"
#include "bridgectl_process.h"
#include "support/config_env.h"

namespace {

// Folders "bridgectl-*" left in the temporary folder.
int LeftoverConfigFolders() {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((std::wstring(temp) + L"bridgectl-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    ++count;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

TEST(BridgectlConnectionTest, EveryWayToReachTheServerFindsTheSameBridge) {
  BridgeHost host;
  ASSERT_TRUE(host.Start(FastAircraft()));
  const std::string port4 = std::to_string(host.host().Port4());
  const std::string port6 = std::to_string(host.host().Port6());

  for (const std::string& how : {std::string(), std::string("--pipe \"Lockheed Martin Prepar3D v6\\SimConnect\""),
                                 "--tcp 127.0.0.1:" + port4, "--tcp [::1]:" + port6}) {
    RunResult title = RunBridgectl(how + " title");
    EXPECT_EQ(title.status, 0) << how << ": " << title.err;
    EXPECT_EQ(title.out, "TVO Test Aircraft\n") << how;
  }
  // Runs over the pipe, IPv4 and IPv6.
  EXPECT_TRUE(host.console().HasLine("\"bridgectl\" opened (pipe)"));
  EXPECT_TRUE(host.console().HasLine("\"bridgectl\" opened (tcp4)"));
  EXPECT_TRUE(host.console().HasLine("\"bridgectl\" opened (tcp6)"));

  // The user's own SimConnect.cfg in the current folder, section 5.
  {
    ScopedFile config(L"SimConnect.cfg",
                      "[SimConnect.5]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=" + port4 + "\r\n");
    ASSERT_TRUE(config.written());
    RunResult title = RunBridgectl("--config 5 title");
    EXPECT_EQ(title.status, 0) << title.err;
    EXPECT_EQ(title.out, "TVO Test Aircraft\n");
  }
  RunResult missing = RunBridgectl("--config 5 title");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err,
            "bridgectl: no section [SimConnect.5] in SimConnect.cfg (Public Documents, Documents or the current "
            "folder)\n");

  // --verbose names the server and the bridge's version.
  RunResult verbose = RunBridgectl("--verbose title");
  EXPECT_EQ(verbose.err,
            "bridgectl: connected to Prepar3D v6 (simhost); TAVO.quin Bridge Version 1.0.0.21\n");

  EXPECT_EQ(LeftoverConfigFolders(), 0);
}

TEST(BridgectlConnectionTest, AServerThatIsNotThereIsAnError) {
  RegistryPorts noPorts;  // no TCP fallback to stray ports either
  const std::string pipe = "tvo-bridgectl-nothing-" + std::to_string(GetCurrentProcessId());

  RunResult fallback = RunBridgectl("title");
  EXPECT_EQ(fallback.status, 1);
  EXPECT_EQ(fallback.out, "");
  EXPECT_EQ(fallback.err,
            "bridgectl: no SimConnect server: nothing answers on the simulator's pipe or on the TCP ports it leaves "
            "in the registry (is the simulator running?)\n");

  RunResult named = RunBridgectl("--pipe " + pipe + " title");
  EXPECT_EQ(named.status, 1);
  EXPECT_EQ(named.err, "bridgectl: no SimConnect server on the pipe \\\\.\\pipe\\" + pipe + "\n");

  RunResult tcp = RunBridgectl("--tcp 127.0.0.1:1 title");
  EXPECT_EQ(tcp.status, 1);
  EXPECT_EQ(tcp.err, "bridgectl: no SimConnect server at 127.0.0.1:1\n");

  RunResult usage = RunBridgectl("title --tcp nowhere");
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.err, "bridgectl: --tcp takes HOST:PORT or [IPV6-ADDRESS]:PORT\n");

  EXPECT_EQ(LeftoverConfigFolders(), 0);
}

TEST(BridgectlConnectionTest, AServerWithoutTheBridgeIsAnError) {
  // An explicit TCP endpoint that fails would otherwise fall back to this
  // server's pipe: the run must report the TCP endpoint instead.
  BridgeHost host;
  ASSERT_TRUE(host.Start(FastAircraft(), /*addon=*/false));

  RunResult tcp = RunBridgectl("--tcp 127.0.0.1:1 title");
  EXPECT_EQ(tcp.status, 1);
  EXPECT_EQ(tcp.err, "bridgectl: no SimConnect server at 127.0.0.1:1\n");

  RunResult title = RunBridgectl("--timeout 1500 title");
  EXPECT_EQ(title.status, 1);
  EXPECT_EQ(title.err,
            "bridgectl: no bridge: the simulator refused requests to TAVO_SC_DYN_HOSTRESQUEST_ID (exception 14); is "
            "TVOBridge64.dll loaded?\n");
  EXPECT_TRUE(host.console().HasLine("\"bridgectl\" opened (pipe)"));

  RunResult help = RunBridgectl("watch --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: bridgectl watch NAME[@MS] ...", 0), 0u);
  RunResult none = RunBridgectl("");
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err.rfind("bridgectl: talks to the TAVO.quin Simulator Bridge", 0), 0u);
}

}  // namespace
