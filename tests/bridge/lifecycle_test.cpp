// The built TVOBridge64.dll loaded into this process as the simulator loads
// it (support/hosted_module.h): DLLStart and DLLStop at their edges, the
// module kept mapped while its worker runs, and a run served by a raw server.
#include <cstdio>

#include "bridge/raw_simulator.h"
#include "support/paths.h"
#include "support/bytes.h"
#include "support/hosted_module.h"
#include "support/wait_until.h"

namespace {

using module_log::Lines;

// A fault in the module (code run once it is unmapped) ends this program at
// once, failing it, instead of waiting for a debugger until its time limit.
const LPTOP_LEVEL_EXCEPTION_FILTER previousFilter =
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });

bool ModuleMapped() { return GetModuleHandleW(L"TVOBridge64.dll") != nullptr; }

// The module goes with its worker's end, while this thread handles its
// messages as the simulator's would.
bool UnmappedOnceTheWorkerEnds() {
  return WaitUntil([] {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    return !ModuleMapped();
  });
}

TEST(LifecycleTest, StopWithoutStartTouchesNothingAnyNumberOfTimes) {
  FILE* file = std::fopen(module_log::Path().c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("earlier run\r\n", file);
  std::fclose(file);
  HostedModule module;
  ASSERT_TRUE(module.Load());
  module.Stop();
  module.Stop();
  module.Unload();  // process detach runs DLLStop once more
  EXPECT_EQ(module_log::Bytes(), "earlier run\r\n");
  EXPECT_TRUE(BridgeEventsGone());
}

TEST(LifecycleTest, WithoutAServerTheOpenFailsAndEachStopReturnsWithinItsBound) {
  HostedModule module;
  ASSERT_TRUE(module.Load());
  EXPECT_NE(module.Start(), 0);
  EXPECT_EQ(module.Start(), 0xBAADF00D);
  EXPECT_EQ(module.WaitForWorker(), 1);
  // After a failed open the worker never sets End: DLLStop waits its bound.
  const DWORD took = module.Stop();
  EXPECT_GE(took, 900u);
  EXPECT_LT(took, kStopBoundMs);
  module.Stop();
  EXPECT_EQ(module_log::Messages(module.StartedAt()),
            (Lines{"DLLSTART 1.0.0.21", module_log::SetupHead()[1],
                   "SimConnect: SimConnect_Open (80004005) (SendID = -1) ==> FAILED", "gnDisplay -2147467259", "DLLSTOP",
                   "SimConnect: SimConnect_Close (80004005) (SendID = -1) ==> FAILED", "gnDisplay -2147467259",
                   "DLLSTOP DONE"}));

  // A new start opens a new log. Stopped while the worker is still opening,
  // DLLStop returns within its bound and the worker gives up on its own.
  EXPECT_NE(module.Start(), 0);
  EXPECT_LT(module.Stop(), kStopBoundMs);
  EXPECT_EQ(module.WaitForWorker(), 1);
  const Lines lines = module_log::Messages(module.StartedAt());
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3),
            (Lines{"DLLSTART 1.0.0.21", module_log::SetupHead()[1], "DLLSTOP"}));
  EXPECT_EQ(lines.back(), "DLLSTOP DONE");
}

// The simulator may unload the module as soon as DLLStop returns: the module
// must stay mapped while its worker runs, go once it has ended, and leave
// nothing behind.
TEST(UnloadTest, AWorkerStillOpeningKeepsTheModuleMappedUntilItEnds) {
  CyclesLeaveNothingBehind(1, 0, [] {
    HostedModule module;
    ASSERT_TRUE(module.Load());
    ASSERT_NE(module.Start(), 0);
    // Each of the chain's failed attempts pauses: the open outlasts DLLStop.
    module.Stop();
    EXPECT_EQ(module.WaitForWorker(0), -1) << "the worker is still opening";
    module.Unload();
    EXPECT_TRUE(ModuleMapped()) << "unmapped under its running worker";
    EXPECT_TRUE(UnmappedOnceTheWorkerEnds());
  });
}

// A window of class "FS98MAIN" owned by this thread, as the simulator's main
// window is owned by the thread that calls DLLStart and DLLStop.
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
  ~MainWindow() { DestroyWindow(window_); }
  HWND handle() const { return window_; }

 private:
  HWND window_ = nullptr;
};

TEST(UnloadTest, AWorkerInsideSendMessageToTheMainWindowIsLetThroughByStop) {
  ASSERT_EQ(FindWindowW(L"FS98MAIN", nullptr), nullptr) << "another program has an FS98MAIN window open";
  MainWindow window;
  ASSERT_NE(window.handle(), nullptr);
  CyclesLeaveNothingBehind(1, 0, [] {
    std::unique_ptr<RawServer> server = RawServer::ListenPipe(kSimulatorPipePath);
    ASSERT_NE(server, nullptr);
    HostedModule module;
    ASSERT_TRUE(module.Load());
    ASSERT_NE(module.Start(), 0);
    // The worker has sent the window its first record; this thread has not
    // looked at its messages yet.
    ASSERT_TRUE(WaitUntil([] { return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; }));
    EXPECT_LT(module.Stop(), 1000u) << "DLLStop's wait let the worker's messages through and saw it end";
    // The worker went on past its messages: the Open request reached the pipe.
    ASSERT_TRUE(server->Accept());
    EXPECT_EQ(U32At(server->ReadMessage(), 8), 0xF0000001u);
    EXPECT_EQ(module.WaitForWorker(), 0);
    module.Unload();
    EXPECT_TRUE(UnmappedOnceTheWorkerEnds());
    EXPECT_EQ(module_log::Messages(module.StartedAt()).back(), "DLLSTOP DONE");
  });
}

TEST(ServedTest, MalformedMessagesAreDroppedAndTheQuitMessageEndsTheWorker) {
  ServedModule served;
  ServedOptions options;
  options.server = ServedOptions::Server::kRaw;
  ASSERT_TRUE(served.Start(options));
  RawServer& server = served.Raw();
  // A client-data message too short for a request, an event without its id,
  // then the About item: only the last one is served.
  ASSERT_TRUE(server.Write(MakeReceived(16, 20)));
  ASSERT_TRUE(server.Write(MakeReceived(4, 16)));
  ASSERT_TRUE(server.Write(MenuEvent(102)));
  EXPECT_EQ(TextAt(server.ReadMessage(), 32), "TAVO.quin Simulator Bridge Version 1.0.0.21");
  ASSERT_TRUE(server.Write(MakeReceived(3, 12)));
  EXPECT_TRUE(server.WaitForClientClose());
  EXPECT_EQ(served.Module().WaitForWorker(5000), 0);
  EXPECT_LT(served.StopModule(), kStopBoundMs);
  const Lines lines = module_log::Messages(served.Module().StartedAt());
  module_log::ExpectSetupHead(lines);
  EXPECT_NE(module_log::IndexOf(lines, "SimConnectProcess 00000010 too short: 20 bytes"), -1);
  EXPECT_NE(module_log::IndexOf(lines, "SimConnectProcess 00000004 too short: 16 bytes"), -1);
  module_log::ExpectEndedByQuit(lines);
}

}  // namespace
