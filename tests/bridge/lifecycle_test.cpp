// The built TVOBridge64.dll loaded into this process as the simulator loads
// it (support/hosted_module.h): DLLStart and DLLStop at their edges, and the
// module kept mapped while its worker runs.
#include <fstream>

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
  std::ofstream(module_log::Path(), std::ios::binary) << "earlier run\r\n";
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

TEST(UnloadTest, AWorkerInsideSendMessageToTheMainWindowIsLetThroughByStop) {
  // An FS98MAIN window of this thread, as the simulator's main window is the
  // thread's that calls DLLStart and DLLStop.
  ASSERT_EQ(FindWindowW(L"FS98MAIN", nullptr), nullptr) << "another program has an FS98MAIN window open";
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"FS98MAIN";
  RegisterClassW(&windowClass);
  const HWND window = CreateWindowExW(0, L"FS98MAIN", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                      windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  CyclesLeaveNothingBehind(1, 0, [] {
    std::unique_ptr<RawServer> server = RawServer::ListenPipe(endpoints::kDefaultPipePath);
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
  DestroyWindow(window);
}

}  // namespace
