#include "bridge_test_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <regex>
#include <stdexcept>

#include "bridge/bridge_log.h"
#include "bridge/module_state.h"
#include "simconnect/SimConnect.h"
#include "simconnect/wire.h"
#include "support/test_env.h"

// The two seams: the panel table pointer and the tick.
extern "C" {
void* Panels = nullptr;
}

namespace {
std::atomic<uint32_t> currentTick{100000};
size_t logLinesSeen = 0;
}  // namespace

uint32_t CurrentTick() { return currentTick.load(); }

namespace bridge_test {

void SetTick(uint32_t tick) { currentTick.store(tick); }

void StartLog() {
  bridge_log::InitPath();
  bridge_log::Close();
  ASSERT_TRUE(bridge_log::Open()) << bridge_log::Path();
  logLinesSeen = 0;
}

void StopLog() { bridge_log::Close(); }

std::string RawLog() {
  std::string text;
  FILE* file = std::fopen(bridge_log::Path(), "rb");
  if (file == nullptr) return text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  return text;
}

std::vector<std::string> LogMessages() {
  static const std::regex stamp(R"(^\d\d:\d\d:\d{4} \d\d:\d\d:\d\d )");
  std::vector<std::string> messages;
  std::string text = RawLog();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log line without CR LF: " << text.substr(start);
      break;
    }
    std::string line = text.substr(start, end - start);
    start = end + 2;
    std::smatch match;
    if (!std::regex_search(line, match, stamp)) {
      // The line after a message that carries its own newline is empty.
      messages.push_back(line);
      continue;
    }
    messages.push_back(line.substr(match.length(0)));
  }
  return messages;
}

std::vector<std::string> NewLogMessages() {
  std::vector<std::string> all = LogMessages();
  std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(std::min(logLinesSeen, all.size())),
                                 all.end());
  logLinesSeen = all.size();
  return fresh;
}

namespace {

int32_t Lookup(const char* name) {
  if (std::strcmp(name, "ENGINE_RPM") == 0) return 0;
  if (std::strcmp(name, "GEAR_DOWN") == 0) return 1;
  return -1;
}
double Read(int32_t id) {
  if (SmallPanels::readsThrow.load()) throw std::runtime_error("panel read failed");
  return id == 0 ? 1200.0 : id == 1 ? 1.0 : 0.0;
}
void Write(int32_t, double) {}
const char* Name(int32_t id) { return id == 0 ? "ENGINE_RPM" : id == 1 ? "GEAR_DOWN" : nullptr; }

template <typename Fn>
void* Entry(Fn fn) {
  void* slot = nullptr;
  std::memcpy(&slot, &fn, sizeof slot);
  return slot;
}

}  // namespace

std::atomic<bool> SmallPanels::readsThrow{false};

SmallPanels::SmallPanels() {
  table_[49] = Entry(&Lookup);
  table_[51] = Entry(&Read);
  table_[53] = Entry(&Write);
  table_[57] = Entry(&Name);
  Panels = table_;
}

SmallPanels::~SmallPanels() { Panels = nullptr; }

HeldConnection::HeldConnection() {
  std::wstring path = UniquePipePath("bridge");
  server_ = RawServer::ListenPipe(path);
  if (!server_) return;
  event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  auto* client = ConnectClientToPipe(path, event_);
  if (client == nullptr || !server_->Accept()) return;
  handle_ = static_cast<HANDLE>(client);
  auto* cell = new bridge::ConnectionHolder();
  cell->handle.store(handle_);
  bridge::connectionHolder.store(cell);
}

HeldConnection::~HeldConnection() {
  bridge::ConnectionHolder* cell = bridge::connectionHolder.exchange(nullptr);
  if (cell != nullptr) {
    SimConnect_Close(cell->handle.load());
    delete cell;
  }
  if (event_ != nullptr) CloseHandle(event_);
}

std::vector<uint32_t> RequestIds(HeldConnection& connection, DWORD timeoutMs) {
  std::vector<uint32_t> ids;
  for (;;) {
    std::vector<uint8_t> request = connection.NextRequest(timeoutMs);
    if (request.size() < 16) return ids;
    ids.push_back(wire::LoadU32(request.data() + 8));
  }
}

GuardedMessage::GuardedMessage(uint32_t kind, uint32_t size) : size_(size) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  size_t page = info.dwPageSize;
  size_t pages = (size + page - 1) / page + 1;
  region_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, pages * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD old = 0;
  VirtualProtect(region_ + (pages - 1) * page, page, PAGE_NOACCESS, &old);
  data_ = region_ + (pages - 1) * page - size;
  if (size >= 4) wire::StoreU32(data_, size);
  if (size >= 8) wire::StoreU32(data_ + 4, 4);
  if (size >= 12) wire::StoreU32(data_ + 8, kind);
}

GuardedMessage::~GuardedMessage() { VirtualFree(region_, 0, MEM_RELEASE); }

void GuardedMessage::U32(uint32_t offset, uint32_t value) { wire::StoreU32(data_ + offset, value); }

}  // namespace bridge_test
