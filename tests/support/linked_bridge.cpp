#include "linked_bridge.h"

#include <atomic>
#include <cstring>

#include "bridge/bridge_log.h"
#include "bridge/module_state.h"
#include "bytes.h"
#include "library_link.h"
#include "module_log.h"
#include "paths.h"
#include "simconnect/SimConnect.h"

namespace {
std::atomic<uint32_t> tick{10000};
size_t linesSeen = 0;
}  // namespace

uint32_t CurrentTick() { return tick.load(); }

namespace linked_bridge {

void SetTick(uint32_t value) { tick.store(value); }
void AdvanceTick(uint32_t ms) { tick.fetch_add(ms); }

void StartLog() {
  bridge_log::InitPath();
  bridge_log::Close();
  ASSERT_TRUE(bridge_log::Open()) << bridge_log::Path();
  linesSeen = 0;
}

Lines NewLines(bool withResults) {
  const Lines all = module_log::SoFar();
  Lines lines;
  for (size_t i = linesSeen; i < all.size(); ++i) {
    if (withResults || (all[i].rfind("SimConnect: ", 0) != 0 && all[i].rfind("gnDisplay ", 0) != 0)) {
      lines.push_back(all[i]);
    }
  }
  linesSeen = all.size();
  return lines;
}

HeldConnection::HeldConnection() {
  const std::wstring path = UniquePipePath("linked");
  server_ = RawServer::ListenPipe(path);
  event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SimConnectClient* client = server_ != nullptr ? ConnectClientToPipe(path, event_) : nullptr;
  if (client == nullptr || !server_->Accept()) {
    ADD_FAILURE() << "no connection to the raw server";
    return;
  }
  auto* cell = new bridge::ConnectionHolder();
  cell->handle.store(static_cast<HANDLE>(client));
  bridge::connectionHolder.store(cell);
}

HeldConnection::~HeldConnection() {
  if (bridge::ConnectionHolder* cell = bridge::connectionHolder.exchange(nullptr)) {
    SimConnect_Close(cell->handle.load());
    delete cell;
  }
  CloseHandle(event_);
}

Bytes8 VarData(double value, uint32_t isMjc, const std::string& name) {
  return Bytes(268).Raw(0, &value, 8).U32(8, isMjc).Text(12, name).vec();
}

Bytes8 VarDump(uint32_t firstId, uint32_t total, const std::string& names) {
  return Bytes(4012).U32(0, 0x01010202).U32(4, firstId).U32(8, total).Text(12, names).vec();
}

Bytes8 HostEvent(uint32_t reference, uint32_t code, double value, const std::string& text) {
  return Bytes(1044).U32(0, reference).U32(4, code).U32(8, 1).Raw(12, &value, 8).Text(20, text).vec();
}

void LinkedBridgeTest::SetUp() {
  StartLog();
  SetTick(10000);
  handler = new LVARHandler();
  bridge::lvarHandler.store(handler);
}

void LinkedBridgeTest::TearDown() {
  bridge::ReleaseLVARHandler();
  bridge_log::Close();
}

Bytes8 LinkedBridgeTest::NextRecord(uint32_t area) {
  const size_t size = area == kVarDataArea ? 268 : area == kVarDumpArea ? 4012 : 1044;
  const Bytes8 request = connection.Next();
  if (request.size() != 36 + size) {
    ADD_FAILURE() << "a request of " << request.size() << " bytes, not a record of " << size;
    return Bytes8();
  }
  sendId = U32At(request, 12);
  EXPECT_EQ(Bytes8(request.begin(), request.begin() + 36),
            Bytes(36).U32(0, 36 + size).U32(4, 37).U32(8, 0xF000003C).U32(12, sendId).U32(16, area)
                .U32(20, area + 1).U32(32, size).vec());
  return Bytes8(request.begin() + 36, request.end());
}

records::HostRequest LinkedBridgeTest::Request(uint32_t command, const std::string& name, double value,
                                               uint32_t param, uint32_t tag) {
  return records::MakeHostRequest(tag, command, param, name.c_str(), value);
}

void LinkedBridgeTest::Connect(uint32_t peer) {
  handler->Connect(Request(records::kCommandConnect, "", 0.0, peer));
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0x1234, 7, 1.21, "TAVO.quin Bridge Version 1.0.0.21"));
  NewLines();
}

std::string LinkedBridgeTest::Listed() {
  handler->SendLVARS();
  std::string names;
  for (Bytes8 chunk; (chunk = NextRecord(kVarDumpArea)).size() == 4012 && U32At(chunk, 4) != 0xFFFFFFFF;) {
    const char* text = reinterpret_cast<const char*>(&chunk[12]);
    names.append(text, strnlen(text, 4000));
  }
  return names;
}

}  // namespace linked_bridge
