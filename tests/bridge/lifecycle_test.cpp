// The built TVOBridge64.dll loaded into this process as the simulator loads
// it: LoadLibraryW, Panels filled, DLLStart, and at the end DLLStop and
// FreeLibrary. The simulator's side of the connection is a RawServer on the
// default pipe, which sees the exact set-up requests with their SendIDs.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/bridge_log.h"
#include "bridge_test_env.h"
#include "lvar/records.h"
#include "simconnect/wire.h"
#include "process_stats.h"
#include "raw_simulator.h"
#include "support/raw_server.h"
#include "support/test_env.h"

namespace {

using Lines = std::vector<std::string>;
using namespace raw_simulator;

constexpr int64_t kAlreadyStarted = 0xBAADF00D;

// The module's Windows path: the build path on drive Z:, as Wine maps it.
std::wstring ModulePath() {
  std::string unixPath = TVO_BRIDGE_DLL;
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

std::string ExecutablePath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

std::string Ok(const std::string& label, int sendId) {
  return "SimConnect: " + label + " ==> SUCCESS (SendID = " + std::to_string(sendId) + ")";
}

// The loaded module with its three exports.
class LoadedBridge {
 public:
  LoadedBridge() {
    module_ = LoadLibraryW(ModulePath().c_str());
    if (module_ == nullptr) return;
    start_ = reinterpret_cast<int64_t (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "DLLStart")));
    stop_ = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "DLLStop")));
    panels_ = reinterpret_cast<void**>(GetProcAddress(module_, "Panels"));
  }
  ~LoadedBridge() { Unload(); }
  LoadedBridge& operator=(LoadedBridge&& other) noexcept {
    std::swap(module_, other.module_);
    std::swap(start_, other.start_);
    std::swap(stop_, other.stop_);
    std::swap(panels_, other.panels_);
    std::swap(worker_, other.worker_);
    return *this;
  }

  bool ok() const { return module_ != nullptr && start_ != nullptr && stop_ != nullptr && panels_ != nullptr; }
  void SetPanels(void* table) { *panels_ = table; }

  // DLLStart; keeps a handle of its own on the newest worker thread. A
  // previous worker must have ended (see Unload).
  int64_t Start() {
    int64_t result = start_();
    if (result != 0 && result != kAlreadyStarted) {
      if (worker_ != nullptr) {
        EXPECT_NE(WaitForWorker(), -1) << "an earlier worker still runs";
        CloseHandle(worker_);
        worker_ = nullptr;
      }
      DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(result), GetCurrentProcess(), &worker_, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    }
    return result;
  }
  void Stop() { stop_(); }
  // Milliseconds DLLStop took.
  DWORD TimedStop() {
    DWORD start = GetTickCount();
    stop_();
    return GetTickCount() - start;
  }
  // Lets go of the handle on the worker thread.
  void ForgetWorker() {
    if (worker_ != nullptr) CloseHandle(worker_);
    worker_ = nullptr;
  }
  // Waits for the worker thread to end; its exit code, or -1 on time-out.
  int WaitForWorker(DWORD timeoutMs = 20000) {
    if (worker_ == nullptr || WaitForSingleObject(worker_, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeThread(worker_, &code);
    return static_cast<int>(code);
  }
  // FreeLibrary, once the worker has ended: its code goes with the module.
  void Unload() {
    if (module_ == nullptr) return;
    if (worker_ != nullptr) {
      WaitForWorker();
      CloseHandle(worker_);
      worker_ = nullptr;
    }
    UnloadNow();
  }
  // FreeLibrary at once, as the simulator does right after DLLStop, whatever
  // the worker is still doing.
  void UnloadNow() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  // Loads the module again (after UnloadNow).
  bool Reload() {
    *this = LoadedBridge();
    return ok();
  }

 private:
  HMODULE module_ = nullptr;
  int64_t (*start_)() = nullptr;
  void (*stop_)() = nullptr;
  void** panels_ = nullptr;
  HANDLE worker_ = nullptr;
};

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bridge_log::InitPath();  // the same path the module computes
    ASSERT_TRUE(bridge.ok()) << "cannot load the module";
  }
  LoadedBridge bridge;
};

TEST_F(LifecycleTest, StopWithoutStartTouchesNothingAndMayRunAnyNumberOfTimes) {
  {
    FILE* file = std::fopen(bridge_log::Path(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("earlier run\r\n", file);
    std::fclose(file);
  }
  bridge.Stop();
  bridge.Stop();
  bridge.Unload();  // process detach runs DLLStop once more
  EXPECT_EQ(bridge_test::RawLog(), "earlier run\r\n");
  // No worker ever created the events.
  HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, "TAVO.quin.Bridge.Stop");
  EXPECT_EQ(stop, nullptr);
  if (stop != nullptr) CloseHandle(stop);
}

TEST_F(LifecycleTest, WithoutServerTheOpenFailsAndStopReleasesTheHolder) {
  int64_t worker = bridge.Start();
  EXPECT_NE(worker, 0);
  EXPECT_EQ(bridge.Start(), kAlreadyStarted);
  EXPECT_EQ(bridge.WaitForWorker(), 1);

  // The worker never sets End after a failed open: DLLStop waits out its bound.
  DWORD took = bridge.TimedStop();
  EXPECT_GE(took, 900u);
  EXPECT_LT(took, 5000u);
  bridge.Stop();
  EXPECT_EQ(bridge_test::LogMessages(), (Lines{
                                            "DLLSTART 1.0.0.21",
                                            "Called from " + ExecutablePath(),
                                            "SimConnect: SimConnect_Open (80004005) (SendID = -1) ==> FAILED",
                                            "gnDisplay -2147467259",
                                            "DLLSTOP",
                                            "SimConnect: SimConnect_Close (80004005) (SendID = -1) ==> FAILED",
                                            "gnDisplay -2147467259",
                                            "DLLSTOP DONE",
                                        }));
  // A new start opens a new log.
  EXPECT_NE(bridge.Start(), kAlreadyStarted);
  bridge.Stop();
  Lines again = bridge_test::LogMessages();
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again[0], "DLLSTART 1.0.0.21");
}

TEST_F(LifecycleTest, StopWhileStillConnectingReturnsWithinItsBound) {
  EXPECT_NE(bridge.Start(), 0);
  DWORD took = bridge.TimedStop();
  EXPECT_LT(took, 5000u);
  bridge.Stop();
  // The worker gives up on its own, after the log is closed.
  EXPECT_EQ(bridge.WaitForWorker(), 1);
  Lines lines = bridge_test::LogMessages();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "DLLSTART 1.0.0.21");
  EXPECT_EQ(lines[2], "DLLSTOP");
  EXPECT_EQ(lines.back(), "DLLSTOP DONE");
}

// A window of class "FS98MAIN" owned by this thread, as the simulator's main
// window is owned by the thread that calls DLLStart and DLLStop. The thread
// looks at its messages only when a test makes it.
class MainWindow {
 public:
  MainWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"FS98MAIN";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, L"FS98MAIN", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  }
  ~MainWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  HWND handle() const { return window_; }

 private:
  HWND window_ = nullptr;
};

bool ModuleMapped() { return GetModuleHandleW(L"TVOBridge64.dll") != nullptr; }

// The simulator may unload the module as soon as DLLStop returns. Each cycle
// ends with FreeLibrary right after DLLStop; the module must stay mapped while
// its worker runs and go once it has ended, leaving no handle behind. The
// first cycle is a warm-up for what the process creates once.
class UnloadTest : public LifecycleTest {
 protected:
  template <typename Cycle>
  void CyclesLeaveNothingBehind(Cycle cycle) {
    cycle();
    ASSERT_TRUE(bridge.Reload());
    const std::vector<uintptr_t> before = process_stats::OpenHandleValues();
    cycle();
    ASSERT_TRUE(bridge.Reload());
    std::vector<uintptr_t> after = process_stats::OpenHandleValues();
    for (const auto& kind : process_stats::DescribeNewHandles(before, after)) {
      ADD_FAILURE() << kind.second << " x " << kind.first << " left after a cycle";
    }
  }
  // FreeLibrary, then the worker's end, with this thread handling its
  // messages as the simulator's would; the module goes with the worker.
  void UnloadAndWaitForTheWorker(int exitCode) {
    bridge.UnloadNow();
    EXPECT_EQ(bridge.WaitForWorker(), exitCode);
    EXPECT_TRUE(WaitUntil([] {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      return !ModuleMapped();
    }));
    bridge.ForgetWorker();
  }
};

TEST_F(UnloadTest, AWorkerStillOpeningWithoutServerKeepsTheModuleUntilItEnds) {
  CyclesLeaveNothingBehind([this] {
    ASSERT_NE(bridge.Start(), 0);
    // Each of the chain's four failed attempts pauses 350 ms: the open outlasts
    // DLLStop's bound.
    bridge.Stop();
    EXPECT_EQ(bridge.WaitForWorker(0), -1) << "the worker is still opening";
    bridge.UnloadNow();
    EXPECT_TRUE(ModuleMapped()) << "unmapped under its running worker";
    UnloadAndWaitForTheWorker(1);
  });
}

TEST_F(UnloadTest, AWorkerInsideSendMessageToTheMainWindowIsLetThroughByStop) {
  ASSERT_EQ(FindWindowW(L"FS98MAIN", nullptr), nullptr) << "another program has an FS98MAIN window open";
  MainWindow window;
  ASSERT_NE(window.handle(), nullptr);
  CyclesLeaveNothingBehind([this] {
    std::unique_ptr<RawServer> server = RawServer::ListenPipe(kDefaultPipe);
    ASSERT_NE(server, nullptr);
    ASSERT_NE(bridge.Start(), 0);
    // The worker has connected and sent the window its first record; this
    // thread has not looked at its messages yet.
    ASSERT_TRUE(WaitUntil([] { return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; }));
    DWORD took = bridge.TimedStop();
    EXPECT_LT(took, 1000u) << "DLLStop's wait let the worker's messages through and saw it end";
    // The worker went on past its messages: the Open request reached the pipe.
    ASSERT_TRUE(server->Accept());
    EXPECT_EQ(U32(server->ReadMessage(), 8), 0xF0000001u);
    UnloadAndWaitForTheWorker(0);
    Lines lines = bridge_test::LogMessages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "DLLSTOP DONE");
  });
}

// The module connected to a RawServer playing the simulator.
class HostedTest : public LifecycleTest {
 protected:
  void SetUp() override {
    LifecycleTest::SetUp();
    server = RawServer::ListenPipe(kDefaultPipe);
    ASSERT_NE(server, nullptr);
    bridge.SetPanels(panels.table());
    ASSERT_NE(bridge.Start(), 0);
    AcceptAndOpen(*server);
  }

  bridge_test::SmallPanels panels;
  std::unique_ptr<RawServer> server;
};

TEST_F(HostedTest, SetUpRequestsGoOutInOrderThenMessagesAreServedUntilQuit) {
  // Menu, title definition and requests, then the handler's client-data set-up.
  std::vector<Bytes8> setup = Requests(*server, kSetupRequestCount);
  ASSERT_EQ(setup.size(), 23u);
  const uint32_t expectedIds[23] = {0xF0000031, 0xF0000033, 0xF0000033, 0xF000000C, 0xF000000E, 0xF000000E,
                                    0xF0000037, 0xF0000037, 0xF0000037, 0xF0000037, 0xF0000037, 0xF0000037,
                                    0xF0000037, 0xF0000037, 0xF0000038, 0xF0000038, 0xF0000038, 0xF0000038,
                                    0xF0000039, 0xF0000039, 0xF0000039, 0xF0000039, 0xF000003B};
  for (size_t i = 0; i < setup.size(); ++i) {
    EXPECT_EQ(U32(setup[i], 8), expectedIds[i]) << i;
    EXPECT_EQ(U32(setup[i], 12), i + 2) << i;  // SendIDs 2 to 24, after the open's 1
  }
  EXPECT_EQ(TextAt(setup[0], 16), "TAVO.quin");
  EXPECT_EQ(U32(setup[0], 272), 1u);
  EXPECT_EQ(TextAt(setup[1], 20), "About");
  EXPECT_EQ(U32(setup[1], 276), 102u);
  EXPECT_EQ(TextAt(setup[2], 20), "Disable LVAR Access");
  EXPECT_EQ(U32(setup[2], 276), 101u);
  EXPECT_EQ(U32(setup[3], 16), 1u);
  EXPECT_EQ(TextAt(setup[3], 20), "TITLE");
  EXPECT_EQ(TextAt(setup[3], 276), "");
  EXPECT_EQ(U32(setup[3], 532), 10u);
  EXPECT_EQ(U32(setup[3], 540), 0xFFFFFFFFu);
  EXPECT_EQ(U32(setup[4], 16), 10001u);
  EXPECT_EQ(U32(setup[4], 28), 4u);  // every second
  EXPECT_EQ(U32(setup[5], 16), 10002u);
  EXPECT_EQ(U32(setup[5], 28), 1u);  // once

  // The About item: one text.
  server->Write(MenuEvent(102));
  Bytes8 about = server->ReadMessage();
  EXPECT_EQ(U32(about, 12), 25u);
  EXPECT_EQ(TextAt(about, 32), "TAVO.quin Simulator Bridge Version 1.0.0.21");
  // The application connects through the host-request area.
  server->Write(HostRequest(records::kCommandConnect, "", 0.0, 9, 0x77));
  Bytes8 reply = server->ReadMessage();
  EXPECT_EQ(U32(reply, 8), 0xF000003Cu);
  EXPECT_EQ(U32(reply, 36), 0x77u);
  EXPECT_EQ(U32(reply, 40), 7u);

  server->Write(Quit());
  EXPECT_TRUE(server->WaitForClientClose());
  EXPECT_EQ(bridge.WaitForWorker(), 0);
  bridge.Stop();

  Lines lines = bridge_test::LogMessages();
  const Lines head = {
      "DLLSTART 1.0.0.21",
      "Called from " + ExecutablePath(),
      Ok("SimConnect_Open", 1),
      "SimConnect: OpenEvent",
      Ok("SimConnect_MenuAddItem(TAVO.quin)", 2),
      Ok("SimConnect_MenuAddSubItem(About)", 3),
      Ok("SimConnect_MenuAddSubItem(Disable LVAR Access)", 4),
      Ok("SimConnect_AddToDataDefinition(TITLE)", 5),
      Ok("SimConnect_RequestDataOnSimObject", 6),
      Ok("SimConnect_RequestDataOnSimObject", 7),
      "LVARHandler::Startup",
      Ok("MapClientDataNameToID TAVO_SC_DYN_VARDATA_ID", 8),
  };
  ASSERT_GT(lines.size(), head.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + head.size()), head);
  EXPECT_NE(std::find(lines.begin(), lines.end(), Ok("RequestClientData TAVO_SC_DYN_HOSTRESQUEST_ID", 24)), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "onRecvEvent 102 (24)"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), Ok("SimConnect_Text", 25)), lines.end());
  const Lines tail = {"Received QUIT Signal!", "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)", "DLLSTOP",
                      "DLLSTOP DONE"};
  EXPECT_EQ(Lines(lines.end() - 4, lines.end()), tail);
}

TEST_F(HostedTest, MalformedMessagesAreDroppedAndStopEndsTheWorker) {
  ASSERT_EQ(Requests(*server, kSetupRequestCount).size(), 23u);
  // A client-data message too short for a request, an event without its id,
  // then a well-formed About: only the last one is served.
  server->Write(Message(16, 20));
  server->Write(Message(4, 16));
  server->Write(MenuEvent(102));
  Bytes8 about = server->ReadMessage();
  EXPECT_EQ(TextAt(about, 32), "TAVO.quin Simulator Bridge Version 1.0.0.21");
  // The worker logs the Text request's result after its bytes have gone out.
  ASSERT_TRUE(WaitUntil([] {
    Lines logged = bridge_test::LogMessages();
    return std::any_of(logged.begin(), logged.end(), [](const std::string& line) {
      return line.rfind("SimConnect: SimConnect_Text ==>", 0) == 0;
    });
  }));

  DWORD took = bridge.TimedStop();
  EXPECT_LT(took, 1000u);  // End came before the bound
  EXPECT_TRUE(server->WaitForClientClose());
  EXPECT_EQ(bridge.WaitForWorker(), 0);
  bridge.Stop();

  Lines lines = bridge_test::LogMessages();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "SimConnectProcess 00000010 too short: 20 bytes"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "SimConnectProcess 00000004 too short: 16 bytes"), lines.end());
  const Lines tail = {"DLLSTOP", "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)", "DLLSTOP DONE"};
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()), tail);
}

TEST_F(HostedTest, AServerThatVanishesLeavesTheWorkerWaitingForStop) {
  ASSERT_EQ(Requests(*server, kSetupRequestCount).size(), 23u);
  server->CloseClient();
  Sleep(300);
  EXPECT_EQ(bridge.WaitForWorker(0), -1);  // still running
  DWORD took = bridge.TimedStop();
  EXPECT_LT(took, 1000u);
  EXPECT_EQ(bridge.WaitForWorker(), 0);
  Lines lines = bridge_test::LogMessages();
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines.back(), "DLLSTOP DONE");
}

}  // namespace
