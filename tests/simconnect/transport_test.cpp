// The transport over real named pipes and loopback sockets: connecting, the
// read loop with its framing, the write chain, and how each kind of failure
// ends a connection.
//
// Connections are opened and written from the test's main thread: under Wine
// an overlapped operation is cancelled when the thread that issued it exits.
#include "simconnect/transport/transport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "simconnect/client.h"
#include "simconnect/transport/transport_internal.h"
#include "support/bytes.h"
#include "support/process_stats.h"
#include "support/raw_server.h"
#include "support/test_env.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct CloseCall {
  uint32_t kind;
  int32_t status;
};

// The base transport with a receiver that records what it is handed and how
// the connection ended. Start marks it Connected, as a connection object does,
// unless it was shut down (a connection object's orderly shutdown closes it and
// then starts it once more, and it stays Closed).
class RecordingTransport : public SimConnectTransport {
 public:
  static RecordingTransport* Create(TransportKind kind) { return new RecordingTransport(kind); }

  void Start() override {
    SimConnectTransport::Start();
    if (!shutDown) state.store(kStateConnected);
  }
  void Close(uint32_t kindValue, int32_t statusValue) override {
    SimConnectTransport::Close(kindValue, statusValue);
    std::lock_guard<std::mutex> lock(mutex_);
    closes_.push_back({kindValue, statusValue});
  }
  uint32_t OnMessage(framing::ReceivedMessage& holder) override {
    EXPECT_EQ(holder.size, holder.capacity);
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.emplace_back(holder.data, holder.data + holder.size);
    return SimConnectTransport::OnMessage(holder);
  }

  std::vector<Bytes> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  std::vector<CloseCall> Closes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closes_;
  }
  bool WaitForMessages(size_t n) {
    return WaitUntil([&] { return Messages().size() >= n; });
  }
  bool WaitForClose() {
    return WaitUntil([&] { return !Closes().empty(); });
  }
  bool WriteInProgress() {
    EnterCriticalSection(&connectionLock);
    bool running = writeInProgress;
    LeaveCriticalSection(&connectionLock);
    return running;
  }

  std::atomic<bool> shutDown{false};

 protected:
  explicit RecordingTransport(TransportKind kind) : SimConnectTransport(kind) {}
  ~RecordingTransport() override = default;

 private:
  std::mutex mutex_;
  std::vector<Bytes> messages_;
  std::vector<CloseCall> closes_;
};

// The owner's reference: an orderly close and release when the test ends.
struct Owned {
  explicit Owned(RecordingTransport* t) : transport(t) {}
  ~Owned() {
    if (transport == nullptr) return;
    transport->Close(kFailureNone, 0);
    transport->Release();
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  RecordingTransport* operator->() const { return transport; }
  RecordingTransport* transport;
};

// A received message of `size` bytes whose body depends on `seed`.
Bytes Message(uint32_t size, uint32_t seed) {
  Bytes m = MakeReceived(16, size);
  for (uint32_t i = 12; i < size; ++i) m[i] = static_cast<uint8_t>(seed * 7 + i);
  return m;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

MessageRecord* MakeRecord(const Bytes& bytes) {
  auto* data = static_cast<uint8_t*>(std::malloc(bytes.size()));
  std::memcpy(data, bytes.data(), bytes.size());
  return MessageRecord::Create(data, static_cast<uint32_t>(bytes.size()), 0, 0);
}

bool Send(SimConnectTransport* transport, const Bytes& bytes) {
  MessageRecord* record = MakeRecord(bytes);
  bool queued = transport->QueueSend(record);
  record->Release();
  return queued;
}

// A connected pipe pair: the raw server and the transport under test.
struct PipeLink {
  explicit PipeLink(const char* tag, uint32_t maxReceiveSize = framing::kDefaultMaxReceiveSize)
      : path(UniquePipePath(tag)), server(RawServer::ListenPipe(path)),
        client(RecordingTransport::Create(TransportKind::Pipe)) {
    EXPECT_NE(server, nullptr);
    connected = server && ConnectTransport(client.transport, 0, L".", PipeNameOf(path).c_str(), maxReceiveSize,
                                           false) == 0 && server->Accept();
  }
  std::wstring path;
  std::unique_ptr<RawServer> server;
  Owned client;
  bool connected = false;
};

// Every transport of a test is gone once its late completions have run.
void ExpectAllTransportsGone(uint32_t before) {
  EXPECT_TRUE(WaitUntil([&] { return LiveTransportCount() == before; })) << LiveTransportCount();
}

TEST(Transport, PipeReadLoopCutsMessagesAcrossAndWithinReads) {
  uint32_t before = LiveTransportCount();
  {
    PipeLink link("split");
    ASSERT_TRUE(link.connected);
    EXPECT_EQ(link.client->State(), kStateConnected);
    EXPECT_NE(link.client->CurrentConnectionId(), 0u);

    // One message longer than the fresh 2048-byte buffer, written in three
    // pieces: handed over once, only when complete, with its bytes in order.
    Bytes big = Message(5000, 1);
    ASSERT_TRUE(link.server->Write(big.data(), 10));
    Sleep(30);
    ASSERT_TRUE(link.server->Write(big.data() + 10, 2990));
    Sleep(30);
    EXPECT_TRUE(link.client->Messages().empty());
    ASSERT_TRUE(link.server->Write(big.data() + 3000, 2000));
    ASSERT_TRUE(link.client->WaitForMessages(1));
    EXPECT_EQ(link.client->Messages()[0], big);

    // Two whole messages and the size field of a third in one write: the two
    // are handed over in order and the read goes on for the rest.
    Bytes first = Message(40, 2), second = Message(300, 3), third = Message(77, 4);
    ASSERT_TRUE(link.server->Write(Concat({first, second, Bytes(third.begin(), third.begin() + 4)})));
    ASSERT_TRUE(link.client->WaitForMessages(3));
    Sleep(30);
    EXPECT_EQ(link.client->Messages().size(), 3u);
    ASSERT_TRUE(link.server->Write(Bytes(third.begin() + 4, third.end())));
    ASSERT_TRUE(link.client->WaitForMessages(4));
    EXPECT_EQ(link.client->Messages(), (std::vector<Bytes>{big, first, second, third}));

    // Zero bytes between messages are skipped without a hand-over.
    Bytes fourth = Message(12, 5);
    ASSERT_TRUE(link.server->Write(Concat({Bytes(8, 0), fourth})));
    ASSERT_TRUE(link.client->WaitForMessages(5));
    EXPECT_EQ(link.client->Messages().back(), fourth);
    EXPECT_TRUE(link.client->Closes().empty());
  }
  ExpectAllTransportsGone(before);
}

TEST(Transport, BadSizeFieldsEndTheConnection) {
  uint32_t before = LiveTransportCount();
  struct Case {
    const char* tag;
    uint32_t limit;
    Bytes bad;
    uint32_t kind;
  };
  const Case cases[] = {
      // One above the default limit; only its size field is ever sent.
      {"over", 41088, Bytes{0x81, 0xA0, 0, 0}, kFailureSizeTooLarge},
      {"size2", 41088, Bytes{2, 0, 0, 0, 0xEE, 0xEE}, kFailureMalformedSize},
      // A limit above the largest receive buffer: a message that would need a
      // larger buffer ends the connection like an oversized one.
      {"ceiling", 2 * 1048576, Message(1048577, 9), kFailureSizeTooLarge},
  };
  for (const Case& c : cases) {
    PipeLink link(c.tag, c.limit);
    ASSERT_TRUE(link.connected) << c.tag;
    // The exact limit is one message; what came before the bad size is still
    // handed over.
    Bytes good = Message(c.limit == 41088 ? 41088 : 64, 1);
    // The server's write of the oversized message may fail when the client
    // drops the pipe before taking its last byte.
    bool written = link.server->Write(Concat({good, c.bad}));
    if (c.limit == 41088) {
      ASSERT_TRUE(written) << c.tag;
    }
    ASSERT_TRUE(link.client->WaitForClose()) << c.tag;
    EXPECT_EQ(link.client->Messages(), (std::vector<Bytes>{good})) << c.tag;
    ASSERT_EQ(link.client->Closes().size(), 1u) << c.tag;
    EXPECT_EQ(link.client->Closes()[0].kind, c.kind) << c.tag;
    EXPECT_EQ(link.client->Closes()[0].status, static_cast<int32_t>(0x80004004)) << c.tag;
    EXPECT_TRUE(link.client->HasFailed());
    EXPECT_EQ(link.client->FailureStatus(), static_cast<int32_t>(0x80004004));
    EXPECT_EQ(link.client->State(), kStateClosed);
    EXPECT_EQ(link.client->CurrentConnectionId(), 0u);
    EXPECT_EQ(link.client->Handle(), INVALID_HANDLE_VALUE);
    // The client's end is gone.
    EXPECT_TRUE(link.server->WaitForClientClose()) << c.tag;
  }
  ExpectAllTransportsGone(before);
}

TEST(Transport, PeerClosingEndsTheConnection) {
  uint32_t before = LiveTransportCount();
  ASSERT_TRUE(StartWinsock());
  {
    // Pipe: the pending read fails with a broken pipe.
    PipeLink link("peer");
    ASSERT_TRUE(link.connected);
    link.server->CloseClient();
    ASSERT_TRUE(link.client->WaitForClose());
    ASSERT_EQ(link.client->Closes().size(), 1u);
    EXPECT_EQ(link.client->Closes()[0].kind, kFailureDisconnected);
    EXPECT_EQ(link.client->Closes()[0].status, static_cast<int32_t>(0xC000014B));
    EXPECT_EQ(link.client->FailureStatus(), static_cast<int32_t>(0xC000014B));

    // Nothing is queued on a closed connection.
    MessageRecord* record = MakeRecord(Message(16, 1));
    EXPECT_FALSE(link.client->QueueSend(record));
    EXPECT_EQ(record->refCount.load(), 1u);
    record->Release();

    // The owner's orderly close of a closed transport records only its kind
    // and releases nothing twice; the failure's status stays.
    link.client->Close(kFailureNone, 0);
    EXPECT_FALSE(link.client->HasFailed());
    EXPECT_EQ(link.client->FailureStatus(), static_cast<int32_t>(0xC000014B));
  }
  {
    // Socket: an orderly close by the server completes the read with 0 bytes.
    std::unique_ptr<RawServer> server = RawServer::ListenTcp(AF_INET);
    ASSERT_NE(server, nullptr);
    Owned client(RecordingTransport::Create(TransportKind::Socket));
    ASSERT_EQ(ConnectTransport(client.transport, AF_INET, L"127.0.0.1", server->PortText().c_str(), 41088, false), 0u);
    ASSERT_TRUE(server->Accept());
    server->CloseClient();
    ASSERT_TRUE(client->WaitForClose());
    ASSERT_EQ(client->Closes().size(), 1u);
    EXPECT_EQ(client->Closes()[0].kind, kFailureZeroBytes);
    EXPECT_EQ(client->Closes()[0].status, static_cast<int32_t>(0xC000013E));
    EXPECT_FALSE(Send(client.transport, Message(16, 2)));
  }
  ExpectAllTransportsGone(before);
}

TEST(Transport, IssueFailuresEndTheConnection) {
  uint32_t before = LiveTransportCount();
  // Transports attached by hand to a pipe whose server end is already gone,
  // without a read in flight: the read or write fails as it is issued.
  for (bool write : {false, true}) {
    std::wstring path = UniquePipePath(write ? "issue-write" : "issue-read");
    std::unique_ptr<RawServer> server = RawServer::ListenPipe(path);
    ASSERT_NE(server, nullptr);
    HANDLE pipe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(server->Accept());
    Owned client(RecordingTransport::Create(TransportKind::Pipe));
    ASSERT_TRUE(client->AttachHandle(pipe, 41088, false));
    client->Start();
    server->CloseClient();

    if (write) {
      // Accepted for writing (the connection is up), then the write fails at once.
      EXPECT_TRUE(Send(client.transport, Message(16, 1)));
    } else {
      client->PostReceive();
    }
    ASSERT_EQ(client->Closes().size(), 1u) << write;
    EXPECT_EQ(client->Closes()[0].kind, kFailureDisconnected) << write;
    EXPECT_EQ(client->Closes()[0].status, static_cast<int32_t>(0xC000014B)) << write;
    EXPECT_EQ(client->State(), kStateClosed);
    // The operation's reference was dropped; only the owner's is left.
    EXPECT_EQ(client->refCount.load(), 1u);
    if (write) {
      EXPECT_FALSE(client->WriteInProgress());
    }
  }
  ExpectAllTransportsGone(before);
}

// Queues many messages of different sizes at once and checks that the server
// gets them whole and in order; then, with the chain idle, one more.
void CheckWriteChain(SimConnectTransport* client, RecordingTransport* recorder, RawServer& server) {
  std::vector<Bytes> sent;
  for (uint32_t i = 0; i < 150; ++i) {
    Bytes m = Message(16 + (i * 97) % 3000, i);
    sent.push_back(m);
    ASSERT_TRUE(Send(client, m));
  }
  for (uint32_t i = 0; i < sent.size(); ++i) {
    Bytes got = server.ReadMessage();
    ASSERT_EQ(got, sent[i]) << "message " << i;
  }
  ASSERT_TRUE(WaitUntil([&] { return !recorder->WriteInProgress(); }));
  EXPECT_EQ(client->sendQueue.Count(), 0u);
  Bytes last = Message(20, 99);
  ASSERT_TRUE(Send(client, last));
  EXPECT_EQ(server.ReadMessage(), last);
  EXPECT_TRUE(recorder->Closes().empty());
}

TEST(Transport, WriteChainKeepsOrderOverPipeAndSocket) {
  uint32_t before = LiveTransportCount();
  {
    PipeLink link("chain");
    ASSERT_TRUE(link.connected);
    CheckWriteChain(link.client.transport, link.client.transport, *link.server);
  }
  ASSERT_TRUE(StartWinsock());
  {
    std::unique_ptr<RawServer> server = RawServer::ListenTcp(AF_INET);
    ASSERT_NE(server, nullptr);
    Owned client(RecordingTransport::Create(TransportKind::Socket));
    ASSERT_EQ(ConnectTransport(client.transport, AF_INET, L"127.0.0.1", server->PortText().c_str(), 41088, false), 0u);
    ASSERT_TRUE(server->Accept());
    CheckWriteChain(client.transport, client.transport, *server);
  }
  ExpectAllTransportsGone(before);
}

TEST(Transport, TcpOverIpv6AndIpv4) {
  uint32_t before = LiveTransportCount();
  ASSERT_TRUE(StartWinsock());
  struct Case {
    int family;
    const wchar_t* address;
  };
  for (const Case& c : {Case{AF_INET6, L"::1"}, Case{AF_INET, L"127.0.0.1"}}) {
    std::unique_ptr<RawServer> server = RawServer::ListenTcp(c.family);
    ASSERT_NE(server, nullptr);
    Owned client(RecordingTransport::Create(TransportKind::Socket));
    ASSERT_EQ(ConnectTransport(client.transport, c.family, c.address, server->PortText().c_str(), 41088, false), 0u);
    ASSERT_TRUE(server->Accept());
    EXPECT_EQ(client->Kind(), TransportKind::Socket);

    Bytes request = Message(24, 1), reply = Message(4000, 2);
    ASSERT_TRUE(Send(client.transport, request));
    EXPECT_EQ(server->ReadMessage(), request);
    ASSERT_TRUE(server->Write(reply));
    ASSERT_TRUE(client->WaitForMessages(1));
    EXPECT_EQ(client->Messages()[0], reply);
  }
  // No listener: the attempt fails and leaves nothing open.
  uint16_t closedPort;
  {
    std::unique_ptr<RawServer> probe = RawServer::ListenTcp(AF_INET);
    ASSERT_NE(probe, nullptr);
    closedPort = probe->Port();
  }
  {
    Owned refused(RecordingTransport::Create(TransportKind::Socket));
    EXPECT_EQ(ConnectTransport(refused.transport, AF_INET, L"127.0.0.1", std::to_wstring(closedPort).c_str(),
                               41088, false),
              1u);
    EXPECT_EQ(refused->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(refused->State(), kStateClosed);
    EXPECT_EQ(refused->refCount.load(), 1u);
  }
  ExpectAllTransportsGone(before);
}

TEST(Transport, ConnectionIdsAdvanceByOnePerStartAndSkipZero) {
  PipeLink a("id-a");
  ASSERT_TRUE(a.connected);
  PipeLink b("id-b");
  ASSERT_TRUE(b.connected);
  EXPECT_EQ(b.client->CurrentConnectionId(), a.client->CurrentConnectionId() + 1);

  Owned loose(RecordingTransport::Create(TransportKind::Pipe));
  EXPECT_EQ(loose->CurrentConnectionId(), 0u);
  transport_detail::SetConnectionIdCounter(0xFFFFFFFE);
  loose->Start();
  EXPECT_EQ(loose->CurrentConnectionId(), 0xFFFFFFFFu);
  loose->Start();
  EXPECT_EQ(loose->CurrentConnectionId(), 1u);
  loose->Start();
  EXPECT_EQ(loose->CurrentConnectionId(), 2u);
  loose->Close(kFailureNone, 0);
  EXPECT_EQ(loose->CurrentConnectionId(), 0u);
  // A connection keeps its number until it closes.
  EXPECT_EQ(b.client->CurrentConnectionId(), a.client->CurrentConnectionId() + 1);
}

TEST(Transport, ManyConnectionsLeaveNoHandlesBehind) {
  // Transports of earlier tests may still wait for their late completions.
  ASSERT_TRUE(WaitUntil([] { return LiveTransportCount() == 0; }));
  const uint32_t before = 0;
  // Warm up once so that lazily created objects of the system do not count.
  { PipeLink warm("warm"); }
  ExpectAllTransportsGone(before);
  const uint32_t handlesBefore = process_stats::CountOpenHandles();
  for (int i = 0; i < 20; ++i) {
    PipeLink link("cycle");
    ASSERT_TRUE(link.connected);
    // The orderly shutdown of a connection object also starts it once more
    // after the close, which creates fresh events.
    link.client->shutDown = true;
    link.client->Close(kFailureNone, 0);
    link.client->Start();
  }
  ExpectAllTransportsGone(before);
  EXPECT_LE(process_stats::CountOpenHandles(), handlesBefore + 2);
}

TEST(Transport, PipePathFormats) {
  wchar_t path[MAX_PATH];
  FormatPipePath(path, L"PC2", L"MyPipe");
  EXPECT_STREQ(path, L"\\\\PC2\\pipe\\MyPipe");
  FormatPipePath(path, L".", L"MyPipe");
  EXPECT_STREQ(path, L"\\\\.\\pipe\\MyPipe");
  const wchar_t* defaultPipe = L"\\\\.\\pipe\\Lockheed Martin Prepar3D v6\\SimConnect";
  FormatPipePath(path, nullptr, nullptr);
  EXPECT_STREQ(path, defaultPipe);
  FormatPipePath(path, L"", L"");
  EXPECT_STREQ(path, defaultPipe);
  FormatPipePath(path, L".", L"");
  EXPECT_STREQ(path, defaultPipe);
  FormatPipePath(path, L"PC2", nullptr);
  EXPECT_STREQ(path, L"\\\\PC2\\pipe\\Lockheed Martin Prepar3D v6\\SimConnect");
  // Too long for the buffer: cut to 259 units and terminated.
  std::wstring longName(400, L'x');
  FormatPipePath(path, L"host", longName.c_str());
  EXPECT_EQ(std::wstring(path), L"\\\\host\\pipe\\" + std::wstring(259 - 12, L'x'));
}

TEST(Transport, BusyPipeFailsAfterOneWait) {
  PipeLink first("busy");
  ASSERT_TRUE(first.connected);

  // The only instance is taken: one wait of 5 s, then the attempt fails and
  // leaves nothing open.
  Owned second(RecordingTransport::Create(TransportKind::Pipe));
  DWORD start = GetTickCount();
  EXPECT_EQ(ConnectTransport(second.transport, 0, L".", PipeNameOf(first.path).c_str(), 41088, false), 1u);
  EXPECT_GE(GetTickCount() - start, 4500u);
  EXPECT_EQ(second->Handle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(second->State(), kStateClosed);

  // The first connection is unharmed.
  Bytes m = Message(32, 3);
  ASSERT_TRUE(first.server->Write(m));
  ASSERT_TRUE(first.client->WaitForMessages(1));
  EXPECT_EQ(first.client->Messages()[0], m);
}

TEST(Transport, NagleIsDisabledOnlyOnRequestAndOnlyOnSockets) {
  ASSERT_TRUE(StartWinsock());
  for (bool disable : {true, false}) {
    std::unique_ptr<RawServer> server = RawServer::ListenTcp(AF_INET);
    ASSERT_NE(server, nullptr);
    SimConnectClient* client = SimConnectClient::Create(TransportKind::Socket);
    ASSERT_NE(client, nullptr);
    ASSERT_EQ(ConnectTransport(client, AF_INET, L"127.0.0.1", server->PortText().c_str(), 41088, disable), 0u);
    ASSERT_TRUE(server->Accept());
    // The option comes back as a one-byte boolean (length 1), so the int
    // starts at zero.
    int noDelay = 0;
    int length = sizeof noDelay;
    ASSERT_EQ(getsockopt(reinterpret_cast<SOCKET>(client->Handle()), IPPROTO_TCP, TCP_NODELAY,
                         reinterpret_cast<char*>(&noDelay), &length),
              0);
    EXPECT_EQ(noDelay != 0, disable) << noDelay << " length " << length;
    client->Close(kFailureNone, 0);
    client->Release();
  }

  // A pipe asked to disable Nagle simply connects and works.
  std::wstring path = UniquePipePath("nagle");
  std::unique_ptr<RawServer> server = RawServer::ListenPipe(path);
  ASSERT_NE(server, nullptr);
  SimConnectClient* client = SimConnectClient::Create(TransportKind::Pipe);
  ASSERT_EQ(ConnectTransport(client, 0, L".", PipeNameOf(path).c_str(), 41088, true), 0u);
  ASSERT_TRUE(server->Accept());
  EXPECT_TRUE(client->disableNagle);
  EXPECT_EQ(client->State(), kStateConnected);
  Bytes m = Message(48, 1);
  ASSERT_TRUE(Send(client, m));
  EXPECT_EQ(server->ReadMessage(), m);
  client->Close(kFailureNone, 0);
  client->Release();
}

}  // namespace
