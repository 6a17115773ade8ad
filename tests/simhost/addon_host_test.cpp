// The add-on host as the simulator runs it: the module is loaded, finds the
// panel table in its Panels export when DLLStart is called, connects to the
// running server from its own thread, and at shutdown receives the quit
// message before DLLStop, after which it is unloaded.
#include "addon_host.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "aircraft_file.h"
#include "simhost_test_env.h"

namespace {

std::mutex recordLock;
std::vector<std::string> records;

std::vector<std::string> Records() {
  std::lock_guard<std::mutex> guard(recordLock);
  return records;
}

std::wstring AddonPath() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1) + L"simhost_test_addon.dll";
}

}  // namespace

// Called by the test add-on.
extern "C" __declspec(dllexport) void SimhostTestRecord(const char* text) {
  std::lock_guard<std::mutex> guard(recordLock);
  records.push_back(text);
}

TEST(AddonHostTest, TheModuleIsStartedWithPanelsAndStoppedAfterTheQuitMessage) {
  LogCapture log;
  std::wstring pipe = UniquePipeName("addon");
  ASSERT_TRUE(WriteClientConfig({{1, "Pipe", ".", Narrow(pipe)}}));
  simhost::SimHostOptions options = TestHostOptions(pipe, log);
  options.haveAircraft = true;
  std::string error;
  ASSERT_TRUE(simhost::ParseAircraft("title Addon Test\nvar FIRST_VARIABLE 12.5\n", &options.aircraft, &error));
  options.addonPath = AddonPath();
  options.quitGraceMs = 5000;

  simhost::SimHost host;
  ASSERT_TRUE(host.Start(options, &error)) << error;
  EXPECT_TRUE(log.WaitForLine("client 1 \"TestAddon\" opened (pipe)"));
  EXPECT_TRUE(log.HasLine("started (DLLStart returned 0x1234)"));
  host.Stop();

  // The module's own view, in order; its connection may finish closing while
  // DLLStop waits for its worker, so "closed" is only known to follow "quit".
  std::vector<std::string> seen = Records();
  auto at = [&](const std::string& what) {
    for (size_t i = 0; i < seen.size(); ++i) {
      if (seen[i] == what) return static_cast<int>(i);
    }
    return -1;
  };
  ASSERT_EQ(8u, seen.size()) << ::testing::PrintToString(seen);
  EXPECT_EQ("panels FIRST_VARIABLE 0 12.5", seen[0]);
  EXPECT_EQ((std::vector<std::string>{"start", "opened", "open reply", "quit"}),
            std::vector<std::string>(seen.begin() + 1, seen.begin() + 5));
  EXPECT_GT(at("stop"), at("quit"));
  EXPECT_GT(at("closed"), at("quit"));
  EXPECT_EQ("detach", seen.back());
  EXPECT_EQ(nullptr, GetModuleHandleW(L"simhost_test_addon.dll"));

  int loaded = log.IndexOf("loaded, panel services at");
  int started = log.IndexOf("started (DLLStart returned");
  int quit = log.IndexOf("shutting down: quit message to 1 clients");
  int left = log.IndexOf("client 1 \"TestAddon\" left");
  int stopped = log.IndexOf("simhost_test_addon.dll stopped");
  int unloaded = log.IndexOf("simhost_test_addon.dll unloaded");
  ASSERT_GE(loaded, 0);
  EXPECT_LT(loaded, started);
  EXPECT_LT(started, quit);
  EXPECT_LT(quit, left);
  EXPECT_LT(left, stopped);
  EXPECT_LT(stopped, unloaded);
}

TEST(AddonHostTest, AModuleWithoutTheEntryPointsIsRefused) {
  LogCapture log;
  simhost::HostLog hostLog(log.Sink());
  std::string error;
  {
    simhost::AddonHost addon;
    EXPECT_FALSE(addon.Load(L"no-such-addon.dll", nullptr, hostLog, &error));
    EXPECT_NE(std::string::npos, error.find("cannot load the add-on no-such-addon.dll")) << error;
    EXPECT_FALSE(addon.Loaded());
  }
  {
    simhost::AddonHost addon;
    EXPECT_FALSE(addon.Load(L"version.dll", nullptr, hostLog, &error));
    EXPECT_EQ("the add-on version.dll exports no DLLStart or no DLLStop", error);
    EXPECT_FALSE(addon.Loaded());
  }
  LogCapture hostOut;
  simhost::SimHostOptions options = TestHostOptions(UniquePipeName("refused"), hostOut);
  options.addonPath = L"no-such-addon.dll";
  simhost::SimHost host;
  EXPECT_FALSE(host.Start(options, &error));
  EXPECT_FALSE(host.Running());
  // What was started is gone again: another server can take the pipe name.
  options.addonPath.clear();
  simhost::SimHost again;
  EXPECT_TRUE(again.Start(options, &error)) << error;
}
