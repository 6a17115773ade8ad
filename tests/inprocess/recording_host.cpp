#include "recording_host.h"

#include <cstring>
#include <map>

#include "simconnect/wire.h"

namespace {

constexpr UINT kDestroy = WM_APP + 1;

std::mutex g_lock;
std::vector<HostCall> g_calls;                 // guarded by g_lock
std::map<void*, uint32_t> g_lent;              // block -> size; guarded by g_lock
bool g_lending = true;                         // guarded by g_lock

void Record(HostCall call) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_calls.push_back(std::move(call));
}

// The bytes of a lent block, which is then freed; empty for a block never lent.
std::vector<uint8_t> TakeLent(void* block) {
  std::lock_guard<std::mutex> guard(g_lock);
  auto found = g_lent.find(block);
  if (found == g_lent.end()) return {};
  auto* bytes = static_cast<uint8_t*>(block);
  std::vector<uint8_t> copy(bytes, bytes + found->second);
  delete[] bytes;
  g_lent.erase(found);
  return copy;
}

}  // namespace

bool RecordingWindow::Create() {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = std::thread([this, ready] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &RecordingWindow::WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = inprocess::kWindowClass;
    HWND window = nullptr;
    if (RegisterClassExW(&windowClass) != 0) {
      window = CreateWindowExW(0, inprocess::kWindowClass, L"test simulator", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                               nullptr, nullptr, windowClass.hInstance, this);
    }
    window_ = window;
    SetEvent(ready);
    if (window != nullptr) {
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    }
    UnregisterClassW(inprocess::kWindowClass, windowClass.hInstance);
  });
  WaitForSingleObject(ready, INFINITE);
  CloseHandle(ready);
  if (window_ == nullptr) thread_.join();
  return window_ != nullptr;
}

void RecordingWindow::Destroy() {
  if (window_ != nullptr) SendMessageW(window_, kDestroy, 0, 0);
  if (thread_.joinable()) thread_.join();
  window_ = nullptr;
}

std::vector<std::vector<uint8_t>> RecordingWindow::Records() {
  std::lock_guard<std::mutex> guard(lock_);
  return records_;
}

LRESULT CALLBACK RecordingWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<RecordingWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_COMMAND && static_cast<uint64_t>(wParam) == inprocess::kCommandWParam && self != nullptr) {
    auto* record = reinterpret_cast<uint8_t*>(lParam);
    // Records are at most 32 bytes; the size field says how long this one is.
    uint32_t size = wire::LoadU32(record);
    if (size > 64) size = 64;
    {
      std::lock_guard<std::mutex> guard(self->lock_);
      self->records_.emplace_back(record, record + size);
    }
    if (size == inprocess::small_record::kSize &&
        wire::LoadU32(record + inprocess::kCommandField) == inprocess::kCommandUnregister) {
      wire::StoreU64(record + inprocess::small_record::kAddress, AddressOf(reinterpret_cast<const void*>(&recording_host::Unregister)));
    }
    return 0;
  }
  if (message == kDestroy) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

namespace recording_host {

void Reset() {
  std::lock_guard<std::mutex> guard(g_lock);
  g_calls.clear();
  g_lending = true;
}

std::vector<HostCall> Calls() {
  std::lock_guard<std::mutex> guard(g_lock);
  return g_calls;
}

std::vector<HostCall> CallsOf(HostCall::Kind kind) {
  std::vector<HostCall> of;
  for (HostCall& call : Calls()) {
    if (call.kind == kind) of.push_back(std::move(call));
  }
  return of;
}

void SetLending(bool lend) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_lending = lend;
}

void* Allocate(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size) {
  uint8_t* block = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_lending) {
      // Filled with a pattern: the client must zero what it builds in.
      block = new uint8_t[size];
      std::memset(block, 0xCD, size);
      g_lent[block] = size;
    }
  }
  Record(HostCall{HostCall::kAllocate, hostConnectionId, connectionId, size, block, {}});
  return block;
}

void Discard(uint32_t hostConnectionId, uint32_t connectionId, void* block) {
  std::vector<uint8_t> bytes = TakeLent(block);
  Record(HostCall{HostCall::kDiscard, hostConnectionId, connectionId, 0, block, std::move(bytes)});
}

void Submit(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size, void* block) {
  std::vector<uint8_t> bytes = TakeLent(block);
  Record(HostCall{HostCall::kSubmit, hostConnectionId, connectionId, size, block, std::move(bytes)});
}

void Release(uint32_t hostConnectionId, uint32_t connectionId, void* block) {
  Record(HostCall{HostCall::kRelease, hostConnectionId, connectionId, 0, block, {}});
}

void Unregister(void* pump) { Record(HostCall{HostCall::kUnregister, 0, 0, 0, pump, {}}); }

std::vector<uint8_t> Table(uint32_t hostConnectionId, uint32_t connectionId) {
  namespace table = inprocess::table;
  std::vector<uint8_t> record(table::kSize, 0);
  wire::StoreU32(record.data() + inprocess::kSizeField, table::kSize);
  wire::StoreU32(record.data() + inprocess::kCommandField, inprocess::kCommandTable);
  wire::StoreU32(record.data() + table::kHostConnectionId, hostConnectionId);
  wire::StoreU32(record.data() + table::kConnectionId, connectionId);
  wire::StoreU64(record.data() + table::kAllocate, AddressOf(reinterpret_cast<const void*>(&Allocate)));
  wire::StoreU64(record.data() + table::kDiscard, AddressOf(reinterpret_cast<const void*>(&Discard)));
  wire::StoreU64(record.data() + table::kSubmit, AddressOf(reinterpret_cast<const void*>(&Submit)));
  wire::StoreU64(record.data() + table::kRelease, AddressOf(reinterpret_cast<const void*>(&Release)));
  return record;
}

}  // namespace recording_host
