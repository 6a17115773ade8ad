// Sessions without any pipe: requests handed over as memory blocks and
// answers taken from a callback sink, as a client inside the simulator's
// process will be served. Two such sessions share client data through the
// server core, the frame step drives their periodic requests, and a stream of
// randomly damaged requests never breaks a session nor yields a malformed
// message.
#include "session.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "aircraft_file.h"
#include "aircraft_host.h"
#include "host_log.h"
#include "server_core.h"
#include "sim_clock.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/wire.h"

using namespace simhost;
namespace enc = request_encoding;

namespace {

// Messages delivered to a client fed from memory.
class CallbackSink : public MessageSink {
 public:
  void Deliver(Message message) override {
    std::lock_guard<std::mutex> guard(lock_);
    messages_.push_back(std::move(message));
  }
  std::vector<Message> Take() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Message> taken;
    taken.swap(messages_);
    return taken;
  }

 private:
  std::mutex lock_;
  std::vector<Message> messages_;
};

uint32_t U32(const Message& m, size_t offset) { return wire::LoadU32(m.data() + offset); }

// Request builders over the client library's encoders.
struct Requests {
  uint32_t sendId = 0;
  std::vector<uint8_t> Make(uint32_t size) {
    std::vector<uint8_t> r(size, 0);
    wire::StoreU32(r.data() + protocol::kRequestSendIdOffset, ++sendId);
    return r;
  }
  std::vector<uint8_t> Open(const char* name) {
    auto r = Make(protocol::open::kSize);
    enc::WriteOpen(r.data(), name);
    return r;
  }
  std::vector<uint8_t> DefineTitle(uint32_t definition) {
    auto r = Make(protocol::add_to_data_definition::kSize);
    enc::WriteAddToDataDefinition(r.data(), definition, "TITLE", nullptr, 10, 0.0f, 0);
    return r;
  }
  std::vector<uint8_t> RequestTitle(uint32_t requestId, uint32_t definition, uint32_t period) {
    auto r = Make(protocol::request_data_on_sim_object::kSize);
    enc::WriteRequestDataOnSimObject(r.data(), requestId, definition, 0, period, 0, 0, 0, 0);
    return r;
  }
  std::vector<uint8_t> Map(const char* name, uint32_t id) {
    auto r = Make(protocol::map_client_data_name_to_id::kSize);
    enc::WriteMapClientDataNameToId(r.data(), name, id);
    return r;
  }
  std::vector<uint8_t> Create(uint32_t id, uint32_t size) {
    auto r = Make(protocol::create_client_data::kSize);
    enc::WriteCreateClientData(r.data(), id, size, 0);
    return r;
  }
  std::vector<uint8_t> Define(uint32_t definition, uint32_t offset, uint32_t size) {
    auto r = Make(protocol::add_to_client_data_definition::kSize);
    enc::WriteAddToClientDataDefinition(r.data(), definition, offset, size, 0.0f, 0);
    return r;
  }
  std::vector<uint8_t> Subscribe(uint32_t id, uint32_t requestId, uint32_t definition, uint32_t period) {
    auto r = Make(protocol::request_client_data::kSize);
    enc::WriteRequestClientData(r.data(), id, requestId, definition, period, 0, 0, 0, 0);
    return r;
  }
  std::vector<uint8_t> Set(uint32_t id, uint32_t definition, const std::vector<uint8_t>& data) {
    auto r = Make(static_cast<uint32_t>(protocol::set_client_data::kFixedSize + data.size()));
    enc::WriteSetClientData(r.data(), id, definition, 0, 0, static_cast<uint32_t>(data.size()), data.data());
    return r;
  }
  std::vector<uint8_t> Menu(const char* text, uint32_t eventId) {
    auto r = Make(protocol::menu_add_item::kSize);
    enc::WriteMenuAddItem(r.data(), text, eventId, 0);
    return r;
  }
  std::vector<uint8_t> Text(const char* text) {
    auto r = Make(static_cast<uint32_t>(protocol::text::kFixedSize + std::strlen(text) + 1));
    enc::WriteText(r.data(), 5, 30.0f, 10007, static_cast<uint32_t>(std::strlen(text) + 1), text);
    return r;
  }
};

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() : log([this](const std::string& line) { lines.push_back(line); }), aircraft(clock), core(aircraft, log, clock) {
    AircraftDescription description;
    std::string error;
    EXPECT_TRUE(ParseAircraft("title Memory Jet\nvar A 1\n", &description, &error)) << error;
    aircraft.Load(description);
  }

  void Feed(Session& session, const std::vector<uint8_t>& request) {
    session.HandleRequest(request.data(), static_cast<uint32_t>(request.size()));
  }

  std::vector<std::string> lines;  // written under HostLog's lock
  SimClock clock{30};
  HostLog log;
  AircraftHost aircraft;
  ServerCore core;
};

}  // namespace

TEST_F(SessionTest, SessionsFedFromMemoryAnswerThroughTheirSinks) {
  auto bridgeSink = std::make_shared<CallbackSink>();
  auto appSink = std::make_shared<CallbackSink>();
  std::shared_ptr<Session> bridge = core.Attach(bridgeSink, "memory");
  std::shared_ptr<Session> app = core.Attach(appSink, "memory");
  Requests b, a;

  Feed(*bridge, b.Open("InProcess"));
  std::vector<Message> out = bridgeSink->Take();
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ(308u, out[0].size());
  EXPECT_EQ(2u, U32(out[0], 8));
  EXPECT_EQ(bridge->Number(), U32(out[0], 300));
  EXPECT_EQ("client 1 \"InProcess\" opened (memory)", lines.back());

  // The frame step drives a per-frame title request.
  Feed(*bridge, b.DefineTitle(1));
  Feed(*bridge, b.RequestTitle(10001, 1, 3));
  for (int i = 0; i < 3; ++i) core.AdvanceFrame();
  out = bridgeSink->Take();
  ASSERT_EQ(3u, out.size());
  for (const Message& m : out) {
    EXPECT_EQ(8u, U32(m, 8));
    EXPECT_EQ(10001u, U32(m, 12));
    EXPECT_STREQ("Memory Jet", reinterpret_cast<const char*>(m.data() + 40));
  }

  // Client data between two memory sessions.
  Feed(*app, a.Open("App"));
  Feed(*bridge, b.Map("REQUESTS", 5));
  Feed(*bridge, b.Create(5, 16));
  Feed(*bridge, b.Define(6, 0, 16));
  Feed(*bridge, b.Subscribe(5, 10000, 6, 3));
  Feed(*app, a.Map("REQUESTS", 50));
  Feed(*app, a.Define(60, 4, 8));
  std::vector<uint8_t> eight = {1, 2, 3, 4, 5, 6, 7, 8};
  Feed(*app, a.Set(50, 60, eight));
  out = bridgeSink->Take();
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ(16u, U32(out[0], 8));
  EXPECT_EQ(10000u, U32(out[0], 12));
  EXPECT_EQ(5u, U32(out[0], 16));
  std::vector<uint8_t> expected(16, 0);
  std::memcpy(expected.data() + 4, eight.data(), 8);
  EXPECT_EQ(expected, std::vector<uint8_t>(out[0].begin() + 40, out[0].end()));
  ASSERT_EQ(1u, appSink->Take().size());  // only its open reply

  // Gone: no more frames, no more client data, its menu with it.
  Feed(*bridge, b.Menu("Mine", 3));
  core.Detach(bridge, "left");
  EXPECT_EQ("client 1 \"InProcess\" left", lines.back());
  core.AdvanceFrame();
  Feed(*app, a.Set(50, 60, eight));
  EXPECT_TRUE(bridgeSink->Take().empty());
  EXPECT_FALSE(core.ChooseMenuItem("Mine"));
  Feed(*bridge, b.RequestTitle(7, 1, 1));  // a late request is ignored
  EXPECT_TRUE(bridgeSink->Take().empty());
  EXPECT_EQ(1u, core.SessionCount());
}

TEST_F(SessionTest, DamagedRequestsNeverBreakTheSession) {
  auto sink = std::make_shared<CallbackSink>();
  std::shared_ptr<Session> session = core.Attach(sink, "memory");
  Requests r;
  Feed(*session, r.Open("Target"));
  Feed(*session, r.DefineTitle(1));
  Feed(*session, r.Map("AREA", 1));
  Feed(*session, r.Create(1, 64));
  Feed(*session, r.Define(1, 0, 64));
  Feed(*session, r.Subscribe(1, 1, 1, 3));
  std::vector<std::vector<uint8_t>> valid = {
      r.Open("Again"),      r.DefineTitle(2),        r.RequestTitle(3, 1, 1),
      r.Map("OTHER", 2),    r.Create(2, 32),         r.Define(2, 8, 8),
      r.Subscribe(1, 2, 2, 3), r.Set(1, 1, std::vector<uint8_t>(64, 9)), r.Menu("Item", 4),
      r.Text("hello"),
  };
  sink->Take();

  // Each damaged request lies at the end of a readable page, right before one
  // that is not, so a read past its end would fault.
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  auto* region = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(region + page, page, PAGE_NOACCESS, &old));

  std::mt19937 random(12345);
  size_t answered = 0;
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> request = valid[random() % valid.size()];
    int flips = 1 + static_cast<int>(random() % 4);
    for (int f = 0; f < flips; ++f) {
      size_t at = random() % request.size();
      request[at] = static_cast<uint8_t>(random());
    }
    if (random() % 8 == 0) request.resize(16 + random() % (request.size() - 15));  // cut short
    if (random() % 2 == 0) wire::StoreU32(request.data(), static_cast<uint32_t>(request.size()));
    uint8_t* at = region + page - request.size();
    std::memcpy(at, request.data(), request.size());
    session->HandleRequest(at, static_cast<uint32_t>(request.size()));
    for (const Message& m : sink->Take()) {
      ++answered;
      ASSERT_GE(m.size(), 12u);
      ASSERT_EQ(m.size(), U32(m, 0));
      uint32_t kind = U32(m, 8);
      ASSERT_TRUE(kind == 1 || kind == 8 || kind == 16) << kind;
      if (kind == 1) {
        ASSERT_EQ(24u, m.size());
      }
    }
  }
  VirtualFree(region, 0, MEM_RELEASE);
  EXPECT_GT(answered, 10000u);

  // The session still works.
  Feed(*session, r.RequestTitle(99, 1, 1));
  std::vector<Message> out = sink->Take();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(8u, U32(out.back(), 8));
  EXPECT_EQ(99u, U32(out.back(), 12));
}
