// Decoding requests: every request encoded by the client library's own
// encoders decodes to the fields it was given, also when it ends right before
// an inaccessible page; malformed requests are rejected with the documented
// exception code and argument index; the request stream cuts whole and
// byte-by-byte input the same way and refuses impossible size fields.
#include "request_decoder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "host_protocol.h"
#include "request_stream.h"
#include "simconnect/request_encoding.h"
#include "support/bytes.h"

using namespace simhost;
namespace hp = host_protocol;
namespace enc = request_encoding;

namespace {

std::vector<uint8_t> Zeroed(uint32_t size, uint32_t sendId) {
  std::vector<uint8_t> request(size, 0);
  Bytes header(16);
  header.U32(12, sendId);
  std::memcpy(request.data(), header.vec().data(), 16);
  return request;
}

// Copies `bytes` so that they end exactly where a PAGE_NOACCESS page begins:
// a read past their end faults.
class GuardedCopy {
 public:
  explicit GuardedCopy(const std::vector<uint8_t>& bytes) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_t page = info.dwPageSize;
    size_t pages = (bytes.size() + page - 1) / page + 1;
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, pages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base_ + (pages - 1) * page, page, PAGE_NOACCESS, &old);
    data_ = base_ + (pages - 1) * page - bytes.size();
    if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
  }
  ~GuardedCopy() { VirtualFree(base_, 0, MEM_RELEASE); }
  const uint8_t* data() const { return data_; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
};

DecodeResult DecodeGuarded(const std::vector<uint8_t>& bytes) {
  GuardedCopy copy(bytes);
  return DecodeRequest(copy.data(), bytes.size());
}

}  // namespace

TEST(RequestDecoderTest, EveryRequestOfTheClientDecodesToItsFields) {
  std::vector<uint8_t> open = Zeroed(296, 1);
  ASSERT_TRUE(enc::WriteOpen(open.data(), "TAVO.quin.Bridge"));
  DecodeResult r = DecodeGuarded(open);
  ASSERT_TRUE(r.ok()) << r.exceptionCode;
  EXPECT_EQ(0xF0000001u, r.request.id);
  EXPECT_EQ(1u, r.request.sendId);
  EXPECT_EQ("TAVO.quin.Bridge", std::get<OpenRequest>(r.request.body).name);

  std::vector<uint8_t> define = Zeroed(544, 2);
  ASSERT_TRUE(enc::WriteAddToDataDefinition(define.data(), 1, "TITLE", nullptr, 10, 0.5f, 0xFFFFFFFF));
  r = DecodeGuarded(define);
  ASSERT_TRUE(r.ok());
  const auto& d = std::get<AddToDataDefinitionRequest>(r.request.body);
  EXPECT_EQ(1u, d.definitionId);
  EXPECT_EQ("TITLE", d.datumName);
  EXPECT_EQ("", d.unitsName);
  EXPECT_EQ(10u, d.datumType);
  EXPECT_EQ(0.5f, d.epsilon);
  EXPECT_EQ(0xFFFFFFFFu, d.datumId);

  std::vector<uint8_t> data = Zeroed(48, 3);
  enc::WriteRequestDataOnSimObject(data.data(), 10001, 1, 0, 4, 5, 6, 7, 8);
  r = DecodeGuarded(data);
  ASSERT_TRUE(r.ok());
  const auto& q = std::get<RequestDataOnSimObjectRequest>(r.request.body);
  EXPECT_EQ(10001u, q.requestId);
  EXPECT_EQ(1u, q.definitionId);
  EXPECT_EQ(0u, q.objectId);
  EXPECT_EQ(4u, q.period);
  EXPECT_EQ(5u, q.flags);
  EXPECT_EQ(6u, q.origin);
  EXPECT_EQ(7u, q.interval);
  EXPECT_EQ(8u, q.limit);

  std::vector<uint8_t> item = Zeroed(280, 4);
  ASSERT_TRUE(enc::WriteMenuAddItem(item.data(), "TAVO.quin", 1, 77));
  r = DecodeGuarded(item);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ("TAVO.quin", std::get<MenuAddItemRequest>(r.request.body).text);
  EXPECT_EQ(1u, std::get<MenuAddItemRequest>(r.request.body).menuEventId);
  EXPECT_EQ(77u, std::get<MenuAddItemRequest>(r.request.body).data);

  std::vector<uint8_t> sub = Zeroed(284, 5);
  ASSERT_TRUE(enc::WriteMenuAddSubItem(sub.data(), 1, "Disable LVAR Access", 101, 9));
  r = DecodeGuarded(sub);
  ASSERT_TRUE(r.ok());
  const auto& s = std::get<MenuAddSubItemRequest>(r.request.body);
  EXPECT_EQ(1u, s.menuEventId);
  EXPECT_EQ("Disable LVAR Access", s.text);
  EXPECT_EQ(101u, s.subMenuEventId);
  EXPECT_EQ(9u, s.data);

  std::vector<uint8_t> remove = Zeroed(24, 6);
  enc::WriteMenuRemoveSubItem(remove.data(), 1, 100);
  r = DecodeGuarded(remove);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(100u, std::get<MenuRemoveSubItemRequest>(r.request.body).subMenuEventId);

  std::vector<uint8_t> map = Zeroed(276, 7);
  ASSERT_TRUE(enc::WriteMapClientDataNameToId(map.data(), "TAVO_SC_DYN_VARDATA_ID", 0x4C565201));
  r = DecodeGuarded(map);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ("TAVO_SC_DYN_VARDATA_ID", std::get<MapClientDataNameToIdRequest>(r.request.body).name);
  EXPECT_EQ(0x4C565201u, std::get<MapClientDataNameToIdRequest>(r.request.body).clientDataId);

  std::vector<uint8_t> create = Zeroed(28, 8);
  enc::WriteCreateClientData(create.data(), 0x4C565201, 268, 0);
  r = DecodeGuarded(create);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(268u, std::get<CreateClientDataRequest>(r.request.body).size);

  std::vector<uint8_t> cdd = Zeroed(36, 9);
  enc::WriteAddToClientDataDefinition(cdd.data(), 0x4C565202, 4, 264, 0.25f, 0xFFFFFFFF);
  r = DecodeGuarded(cdd);
  ASSERT_TRUE(r.ok());
  const auto& c = std::get<AddToClientDataDefinitionRequest>(r.request.body);
  EXPECT_EQ(0x4C565202u, c.definitionId);
  EXPECT_EQ(4u, c.offset);
  EXPECT_EQ(264u, c.sizeOrType);
  EXPECT_EQ(0.25f, c.epsilon);

  std::vector<uint8_t> rcd = Zeroed(48, 10);
  enc::WriteRequestClientData(rcd.data(), 0x4C565205, 10000, 0x4C565206, 3, 0, 0, 0, 0);
  r = DecodeGuarded(rcd);
  ASSERT_TRUE(r.ok());
  const auto& rc = std::get<RequestClientDataRequest>(r.request.body);
  EXPECT_EQ(0x4C565205u, rc.clientDataId);
  EXPECT_EQ(10000u, rc.requestId);
  EXPECT_EQ(0x4C565206u, rc.definitionId);
  EXPECT_EQ(3u, rc.period);

  const uint8_t record[5] = {1, 2, 3, 4, 5};
  std::vector<uint8_t> set = Zeroed(36 + 5, 11);
  enc::WriteSetClientData(set.data(), 0x4C565205, 0x4C565206, 0, 0, 5, record);
  GuardedCopy setCopy(set);  // the decoded data points into it
  r = DecodeRequest(setCopy.data(), set.size());
  ASSERT_TRUE(r.ok());
  const auto& sc = std::get<SetClientDataRequest>(r.request.body);
  EXPECT_EQ(5u, sc.unitSize);
  EXPECT_EQ(0, std::memcmp(record, sc.data, 5));

  const char text[] = "TAVO.quin: LVAR access enabled";
  std::vector<uint8_t> show = Zeroed(32 + sizeof text, 12);
  enc::WriteText(show.data(), 5, 30.0f, 10007, sizeof text, text);
  r = DecodeRequest(show.data(), show.size());
  ASSERT_TRUE(r.ok());
  const auto& t = std::get<TextRequest>(r.request.body);
  EXPECT_EQ(5u, t.textType);
  EXPECT_EQ(30.0f, t.displaySeconds);
  EXPECT_EQ(10007u, t.eventId);
  EXPECT_STREQ(text, reinterpret_cast<const char*>(t.data));

  // A data block of 0 bytes is a whole request too.
  std::vector<uint8_t> empty = Zeroed(36, 13);
  enc::WriteSetClientData(empty.data(), 1, 2, 0, 0, 0, nullptr);
  EXPECT_TRUE(DecodeGuarded(empty).ok());
}

TEST(RequestDecoderTest, MalformedRequestsAreRejectedWithCodeAndArgument) {
  auto expectRejected = [](const std::vector<uint8_t>& bytes, uint32_t code, uint32_t index) {
    DecodeResult r = DecodeGuarded(bytes);
    EXPECT_EQ(code, r.exceptionCode) << "code for id " << std::hex << r.request.id;
    EXPECT_EQ(index, r.argumentIndex);
  };
  // An id no client sends; the SendID is still read for the exception.
  DecodeResult unknown = DecodeGuarded(Bytes(24).Header(0xF0000002, 99));
  EXPECT_EQ(hp::kExceptionUnrecognizedId, unknown.exceptionCode);
  EXPECT_EQ(99u, unknown.request.sendId);
  // A known id with the wrong size, one byte short and one byte long.
  expectRejected(Bytes(47).Header(0xF000000E, 1), hp::kExceptionSizeMismatch, 0);
  expectRejected(Bytes(49).Header(0xF000000E, 1), hp::kExceptionSizeMismatch, 0);
  // The size field does not match the bytes given.
  expectRejected(Bytes(48).Header(0xF000000E, 1).U32(0, 52), hp::kExceptionSizeMismatch, 0);
  // Another protocol version.
  expectRejected(Bytes(48).Header(0xF000000E, 1).U32(4, 36), hp::kExceptionVersionMismatch, 0);
  // A text field without NUL: argument 2 of MenuAddSubItem, 1 of MenuAddItem.
  Bytes sub(284);
  sub.Header(0xF0000033, 1);
  for (size_t i = 20; i < 276; ++i) sub.Text(i, "x");
  expectRejected(sub, hp::kExceptionStringNotTerminated, 2);
  Bytes item(280);
  item.Header(0xF0000031, 1);
  for (size_t i = 16; i < 272; ++i) item.Text(i, "y");
  expectRejected(item, hp::kExceptionStringNotTerminated, 1);
  // Units without NUL in AddToDataDefinition: argument 3.
  Bytes define(544);
  define.Header(0xF000000C, 1).Text(20, "TITLE");
  for (size_t i = 276; i < 532; ++i) define.Text(i, "z");
  expectRejected(define, hp::kExceptionStringNotTerminated, 3);
  // SetClientData and Text whose unit size disagrees with the message size,
  // including one that would overflow a 32-bit sum.
  expectRejected(Bytes(40).Header(0xF000003C, 1).U32(32, 5), hp::kExceptionSizeMismatch, 0);
  expectRejected(Bytes(40).Header(0xF000003C, 1).U32(32, 0xFFFFFFFF), hp::kExceptionSizeMismatch, 0);
  expectRejected(Bytes(33).Header(0xF0000040, 1).U32(28, 0xFFFFFFF0), hp::kExceptionSizeMismatch, 0);
  expectRejected(Bytes(20).Header(0xF000003C, 1), hp::kExceptionSizeMismatch, 0);
  // Open with another magic number, or another value at 280.
  std::vector<uint8_t> open = Zeroed(296, 1);
  enc::WriteOpen(open.data(), "x");
  open[276] = 0x01;
  expectRejected(open, hp::kExceptionBadOpen, 0);
  open = Zeroed(296, 1);
  enc::WriteOpen(open.data(), "x");
  open[280] = 7;
  expectRejected(open, hp::kExceptionBadOpen, 0);
  // Fewer than 16 bytes cannot even hold a header.
  std::vector<uint8_t> shortOne = Bytes(12).U32(0, 12).vec();
  EXPECT_EQ(hp::kExceptionSizeMismatch, DecodeGuarded(shortOne).exceptionCode);
}

TEST(RequestStreamTest, WholeAndByteByByteInputGiveTheSameRequests) {
  std::vector<uint8_t> stream;
  std::vector<std::vector<uint8_t>> requests;
  for (uint32_t i = 0; i < 5; ++i) {
    std::vector<uint8_t> r = Zeroed(48, i + 1);
    enc::WriteRequestDataOnSimObject(r.data(), 100 + i, 1, 0, 1, 0, 0, 0, 0);
    requests.push_back(r);
  }
  std::vector<uint8_t> big(36 + 40000, 0xAB);
  enc::WriteSetClientData(big.data(), 1, 2, 0, 0, 40000, big.data() + 36);
  requests.insert(requests.begin() + 2, big);
  for (const auto& r : requests) stream.insert(stream.end(), r.begin(), r.end());

  for (size_t chunk : {stream.size(), size_t{1}, size_t{7}, size_t{4096}}) {
    RequestStream cutter;
    std::vector<std::vector<uint8_t>> cut;
    for (size_t at = 0; at < stream.size(); at += chunk) {
      cutter.Append(stream.data() + at, std::min(chunk, stream.size() - at));
      const uint8_t* request = nullptr;
      uint32_t size = 0;
      RequestStream::Result result;
      while ((result = cutter.Next(&request, &size)) == RequestStream::kRequest) {
        cut.emplace_back(request, request + size);
      }
      ASSERT_EQ(RequestStream::kNeedMore, result);
    }
    EXPECT_EQ(requests, cut) << "chunk " << chunk;
    EXPECT_EQ(0u, cutter.Buffered());
  }
}

TEST(RequestStreamTest, ImpossibleSizeFieldsBreakTheStreamForGood) {
  for (uint32_t bad : {0u, 4u, 15u, hp::kMaxRequestSize + 1, 0xFFFFFFFFu}) {
    RequestStream cutter;
    std::vector<uint8_t> good = Zeroed(24, 1);
    enc::WriteMenuRemoveSubItem(good.data(), 1, 2);
    std::vector<uint8_t> bytes = good;
    std::vector<uint8_t> broken = Bytes(24).U32(0, bad).vec();
    bytes.insert(bytes.end(), broken.begin(), broken.end());
    bytes.insert(bytes.end(), good.begin(), good.end());
    cutter.Append(bytes.data(), bytes.size());
    const uint8_t* request = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(RequestStream::kRequest, cutter.Next(&request, &size));
    EXPECT_EQ(24u, size);
    EXPECT_EQ(RequestStream::kMalformed, cutter.Next(&request, &size)) << bad;
    EXPECT_EQ(bad, cutter.BadSizeField());
    cutter.Append(good.data(), good.size());
    EXPECT_EQ(RequestStream::kMalformed, cutter.Next(&request, &size));
  }
  // The largest request allowed is still cut once all of it has arrived.
  RequestStream cutter;
  std::vector<uint8_t> largest(hp::kMaxRequestSize, 0);
  Bytes header(16);
  header.U32(0, hp::kMaxRequestSize);
  std::memcpy(largest.data(), header.vec().data(), 16);
  cutter.Append(largest.data(), largest.size() - 1);
  const uint8_t* request = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(RequestStream::kNeedMore, cutter.Next(&request, &size));
  cutter.Append(largest.data() + largest.size() - 1, 1);
  EXPECT_EQ(RequestStream::kRequest, cutter.Next(&request, &size));
  EXPECT_EQ(hp::kMaxRequestSize, size);
}
