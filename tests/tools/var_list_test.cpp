// Assembly of the variable list from VarDump chunks, fed as the received
// client-data messages that carry them, and the decoding of those messages.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bridge_message.h"
#include "lvar/records.h"
#include "support/bytes.h"
#include "var_list.h"

namespace {

using namespace bridgectl;
using Status = VarListAssembler::Status;

// A client-data message (kind 16) of the subscription `requestId` carrying
// `record` from offset 40 on, as the server sends it.
std::vector<uint8_t> ClientDataMessage(uint32_t requestId, const uint8_t* record, size_t size) {
  std::vector<uint8_t> message(40 + size, 0);
  Bytes header(40);
  header.U32(0, static_cast<uint32_t>(message.size())).U32(4, 6).U32(8, 16).U32(12, requestId).U32(16, 1);
  std::memcpy(message.data(), header.vec().data(), 40);
  std::memcpy(message.data() + 40, record, size);
  return message;
}

std::vector<uint8_t> DumpMessage(uint32_t firstId, uint32_t total, const std::string& names) {
  records::VarDump dump = records::MakeVarDump(firstId, total);
  records::SetText(dump.names, sizeof dump.names, names.c_str());
  uint8_t bytes[records::kVarDumpSize];
  records::EncodeVarDump(dump, bytes);
  return ClientDataMessage(kVarDumpRequestId, bytes, sizeof bytes);
}

// Decodes a message and feeds its record to the assembler.
Status Feed(VarListAssembler& list, const std::vector<uint8_t>& message) {
  BridgeMessage decoded = DecodeMessage(message.data(), message.size());
  EXPECT_EQ(decoded.kind, MessageKind::kVarDump);
  return list.Feed(decoded.varDump);
}

TEST(VarListTest, ChunksAreJoinedUntilTheClosingRecord) {
  // A registry of 1000 names of 11 characters: 333 fit a chunk (12 * 333 =
  // 3996 characters), so the bridge sends four chunks and the closing record.
  std::vector<std::string> all;
  for (int i = 0; i < 1000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "VAR_%04d_XY", i);
    all.push_back(name);
  }
  VarListAssembler list;
  uint32_t firstId = 0;
  std::string text;
  int chunks = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(all[i].size(), 11u);
    if (all[i].size() + 2 + text.size() > 4000) {
      ASSERT_EQ(Feed(list, DumpMessage(firstId, 1002, text)), Status::kMore);
      ++chunks;
      firstId = static_cast<uint32_t>(i);
      text.clear();
    }
    text += all[i] + ";";
  }
  ASSERT_EQ(Feed(list, DumpMessage(firstId, 1002, text)), Status::kMore);
  ++chunks;
  EXPECT_EQ(chunks, 4);
  ASSERT_EQ(Feed(list, DumpMessage(records::kVarDumpClosingId, 1002, "")), Status::kDone);
  EXPECT_EQ(list.names(), all);
  EXPECT_EQ(list.totalCount(), 1002u);  // two MJC entries counted, not named
  EXPECT_EQ(list.chunkCount(), 4u);
}

TEST(VarListTest, EmptyListsPartialListsOfOthersAndForeignRecords) {
  // A registry of MJC entries only: the closing record alone.
  VarListAssembler empty;
  EXPECT_EQ(Feed(empty, DumpMessage(records::kVarDumpClosingId, 2, "")), Status::kDone);
  EXPECT_TRUE(empty.names().empty());
  EXPECT_EQ(empty.totalCount(), 2u);
  EXPECT_EQ(empty.chunkCount(), 0u);

  // The tail of a list another application asked for, then ours.
  VarListAssembler joined;
  EXPECT_EQ(Feed(joined, DumpMessage(333, 3, "LATE_A;LATE_B;")), Status::kMore);
  EXPECT_EQ(Feed(joined, DumpMessage(records::kVarDumpClosingId, 3, "")), Status::kMore);
  EXPECT_TRUE(joined.names().empty());
  EXPECT_EQ(Feed(joined, DumpMessage(0, 3, "A;B;")), Status::kMore);
  // Later chunks carry their first variable's id, which may be any id.
  EXPECT_EQ(Feed(joined, DumpMessage(0x7FFF, 3, "C;")), Status::kMore);
  EXPECT_EQ(Feed(joined, DumpMessage(records::kVarDumpClosingId, 3, "")), Status::kDone);
  EXPECT_EQ(joined.names(), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(joined.chunkCount(), 2u);

  // Another format is not a chunk of this protocol.
  records::VarDump odd = records::MakeVarDump(0, 1);
  odd.format = 0x02020101;
  VarListAssembler refused;
  EXPECT_EQ(refused.Feed(odd), Status::kError);
  EXPECT_EQ(refused.error(), "a variable-list record of unknown format 02020101");

  EXPECT_EQ(SplitNames("A;;B;C", 6), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_TRUE(SplitNames("", 0).empty());
}

TEST(BridgeMessageTest, EachAreaIsKnownByItsSubscriptionAndEveryFieldIsBoundsChecked) {
  uint8_t data[records::kVarDataSize];
  records::EncodeVarData(records::MakeVarData(84.25, true, "ENG1_N1"), data);
  std::vector<uint8_t> varData = ClientDataMessage(kVarDataRequestId, data, sizeof data);
  BridgeMessage value = DecodeMessage(varData.data(), varData.size());
  ASSERT_EQ(value.kind, MessageKind::kVarData);
  EXPECT_EQ(value.varData.value, 84.25);
  EXPECT_EQ(value.varData.isMjc, 1u);
  EXPECT_STREQ(value.varData.name, "ENG1_N1");

  uint8_t event[records::kHostEventSize];
  records::EncodeHostEvent(records::MakeHostEvent(0xC0FFEE, 7, 1.21, records::kVersionText), event);
  std::vector<uint8_t> reply = ClientDataMessage(kHostEventRequestId, event, sizeof event);
  BridgeMessage connect = DecodeMessage(reply.data(), reply.size());
  ASSERT_EQ(connect.kind, MessageKind::kHostEvent);
  EXPECT_EQ(connect.hostEvent.reference, 0xC0FFEEu);
  EXPECT_EQ(connect.hostEvent.code, 7u);
  EXPECT_STREQ(connect.hostEvent.text, "TAVO.quin Bridge Version 1.0.0.21");

  // Another subscription's data is not the bridge's.
  std::vector<uint8_t> other = ClientDataMessage(999, data, sizeof data);
  EXPECT_EQ(DecodeMessage(other.data(), other.size()).kind, MessageKind::kOther);

  // Every size below the whole message is refused; none is read past its end
  // (each cut message ends right before an inaccessible page).
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  uint8_t* region = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(region, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(region + page, page, PAGE_NOACCESS, &old));
  for (const std::vector<uint8_t>* message : {&varData, &reply}) {
    for (size_t size = 0; size < message->size(); ++size) {
      uint8_t* placed = region + page - size;
      std::memcpy(placed, message->data(), size);
      BridgeMessage cut = DecodeMessage(placed, size);
      EXPECT_EQ(cut.kind, MessageKind::kMalformed) << size;
    }
  }

  // Exceptions: code, SendID and argument index; a short one is malformed.
  Bytes exception(24);
  exception.U32(0, 24).U32(4, 6).U32(8, 1).U32(12, 14).U32(16, 9).U32(20, 2);
  std::memcpy(region + page - 24, exception.vec().data(), 24);
  BridgeMessage refused = DecodeMessage(region + page - 24, 24);
  ASSERT_EQ(refused.kind, MessageKind::kException);
  EXPECT_EQ(refused.exception, 14u);
  EXPECT_EQ(refused.sendId, 9u);
  EXPECT_EQ(refused.argumentIndex, 2u);
  std::memcpy(region + page - 23, exception.vec().data(), 23);
  EXPECT_EQ(DecodeMessage(region + page - 23, 23).kind, MessageKind::kMalformed);

  // The open reply's server name, and quit.
  Bytes open(308);
  open.U32(0, 308).U32(4, 6).U32(8, 2).Text(12, "Prepar3D v6 (simhost)");
  std::memcpy(region + page - 308, open.vec().data(), 308);
  BridgeMessage opened = DecodeMessage(region + page - 308, 308);
  EXPECT_EQ(opened.kind, MessageKind::kOpen);
  EXPECT_EQ(opened.serverName, "Prepar3D v6 (simhost)");
  Bytes quit(12);
  quit.U32(0, 12).U32(4, 6).U32(8, 3);
  std::memcpy(region + page - 12, quit.vec().data(), 12);
  EXPECT_EQ(DecodeMessage(region + page - 12, 12).kind, MessageKind::kQuit);
  VirtualFree(region, 0, MEM_RELEASE);
}

}  // namespace
