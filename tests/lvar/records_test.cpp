// The byte images of the four client-data records and the bounds of their
// decoding.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "lvar/records.h"
#include "support/bytes.h"

namespace {

using namespace records;

Bytes& F64(Bytes& bytes, size_t offset, double value) { return bytes.Raw(offset, &value, 8); }

template <typename Record, size_t N, typename Encode>
std::vector<uint8_t> Image(const Record& record, Encode encode) {
  std::vector<uint8_t> bytes(N, 0xEE);
  encode(record, bytes.data());
  return bytes;
}

TEST(RecordsTest, EncodedRecordsHaveTheirExactBytes) {
  Bytes varData(268);
  F64(varData, 0, 1.5).U32(8, 1).Text(12, "A32NX_AUTOPILOT_1_ACTIVE");
  EXPECT_EQ((Image<VarData, 268>(MakeVarData(1.5, true, "A32NX_AUTOPILOT_1_ACTIVE"), EncodeVarData)), varData.vec());

  Bytes reply(1044);
  F64(reply, 12, 1.21).U32(0, 0xCAFE0001).U32(4, 7).U32(8, 1).Text(20, "TAVO.quin Bridge Version 1.0.0.21");
  EXPECT_EQ((Image<HostEvent, 1044>(MakeHostEvent(0xCAFE0001, kEventConnectReply, kVersionValue, kVersionText),
                                     EncodeHostEvent)),
            reply.vec());

  std::vector<uint8_t> dump = Image<VarDump, 4012>(MakeVarDump(0xFFFFFFFF, 3), EncodeVarDump);
  EXPECT_EQ(dump, Bytes(4012).Raw(0, "\x02\x02\x01\x01", 4).U32(4, 0xFFFFFFFF).U32(8, 3).vec());

  Bytes request(276);
  F64(request, 268, 250.5).U32(0, 9).U32(4, 2).U32(8, 77).Text(12, "L:GEAR");
  EXPECT_EQ((Image<HostRequest, 276>(MakeHostRequest(9, 2, 77, "L:GEAR", 250.5), EncodeHostRequest)), request.vec());
}

TEST(RecordsTest, TextsAreCutToTheirFieldsAndAlwaysEndInNul) {
  std::string longName(300, 'n');
  std::vector<uint8_t> data = Image<VarData, 268>(MakeVarData(0.0, false, longName.c_str()), EncodeVarData);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&data[12])), std::string(255, 'n'));
  EXPECT_EQ(data[267], 0);

  std::string longText(2000, 't');
  std::vector<uint8_t> event = Image<HostEvent, 1044>(MakeHostEvent(0, 8, 1.21, longText.c_str()), EncodeHostEvent);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&event[20])), std::string(1023, 't'));
  EXPECT_EQ(event[1043], 0);

  // A null text leaves the field zero.
  std::vector<uint8_t> empty = Image<VarData, 268>(MakeVarData(0.0, false, nullptr), EncodeVarData);
  EXPECT_EQ(empty, std::vector<uint8_t>(268, 0));
}

TEST(RecordsTest, HostRequestDecodesFromTheApplicationsBytes) {
  Bytes bytes(276);
  F64(bytes, 268, -3.25).U32(0, 0x11223344).U32(4, 4).U32(8, 0x1000).Text(12, "L:XMLVAR_Baro1_Mode");
  // Garbage after the NUL does not reach the decoded name.
  bytes.Text(12 + 20, "junk");
  HostRequest request{};
  ASSERT_TRUE(DecodeHostRequest(bytes.vec().data(), 276, &request));
  EXPECT_EQ(request.tag, 0x11223344u);
  EXPECT_EQ(request.command, 4u);
  EXPECT_EQ(request.param, 0x1000u);
  EXPECT_STREQ(request.name, "L:XMLVAR_Baro1_Mode");
  EXPECT_EQ(request.name[24], 0);
  EXPECT_EQ(request.value, -3.25);

  // Every size below the record is refused and leaves the output alone.
  HostRequest untouched = MakeHostRequest(1, 2, 3, "keep", 4.0);
  for (size_t size = 0; size < 276; ++size) {
    ASSERT_FALSE(DecodeHostRequest(bytes.vec().data(), size, &untouched)) << size;
  }
  EXPECT_STREQ(untouched.name, "keep");
  EXPECT_FALSE(DecodeHostRequest(nullptr, 276, &untouched));

  // Longer input (a message with padding) decodes the first 276 bytes.
  std::vector<uint8_t> longer = bytes.vec();
  longer.resize(400, 0xFF);
  ASSERT_TRUE(DecodeHostRequest(longer.data(), longer.size(), &request));
  EXPECT_STREQ(request.name, "L:XMLVAR_Baro1_Mode");
}

TEST(RecordsTest, DecodingNeverReadsPastTheRecordEvenWithoutANul) {
  // The record ends right before an inaccessible page: any read beyond its
  // 276 bytes faults.
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  auto* base = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(base, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_NOACCESS, &old));

  uint8_t* record = base + page - 276;
  std::memset(record, 'x', 276);  // no NUL anywhere, value bytes included
  HostRequest request{};
  ASSERT_TRUE(DecodeHostRequest(record, 276, &request));
  EXPECT_EQ(std::string(request.name), std::string(255, 'x'));
  EXPECT_EQ(request.tag, 0x78787878u);

  uint8_t* event = base + page - 1044;
  std::memset(event, 'y', 1044);
  HostEvent decoded{};
  ASSERT_TRUE(DecodeHostEvent(event, 1044, &decoded));
  EXPECT_EQ(std::string(decoded.text), std::string(1023, 'y'));

  uint8_t* dump = base + page - 4012;
  std::memset(dump, 'z', 4012);
  VarDump names{};
  ASSERT_TRUE(DecodeVarDump(dump, 4012, &names));
  EXPECT_EQ(std::strlen(names.names), 3999u);

  uint8_t* data = base + page - 268;
  std::memset(data, 'w', 268);
  VarData value{};
  ASSERT_TRUE(DecodeVarData(data, 268, &value));
  EXPECT_EQ(std::strlen(value.name), 255u);

  VirtualFree(base, 0, MEM_RELEASE);
}

TEST(RecordsTest, EncodeThenDecodeGivesTheRecordBack) {
  HostEvent event = MakeHostEvent(0, kEventRefused, kRefusedReservedName, "MJC_VAR_READ_CODE");
  uint8_t bytes[1044];
  EncodeHostEvent(event, bytes);
  HostEvent back{};
  ASSERT_TRUE(DecodeHostEvent(bytes, sizeof bytes, &back));
  EXPECT_EQ(back.code, 13u);
  EXPECT_EQ(back.marker, 1u);
  EXPECT_EQ(back.value, -5.0);
  EXPECT_STREQ(back.text, "MJC_VAR_READ_CODE");

  VarData data = MakeVarData(-0.0125, false, "L:A");
  uint8_t dataBytes[268];
  EncodeVarData(data, dataBytes);
  VarData dataBack{};
  ASSERT_TRUE(DecodeVarData(dataBytes, sizeof dataBytes, &dataBack));
  EXPECT_EQ(dataBack.value, -0.0125);
  EXPECT_EQ(dataBack.isMjc, 0u);
  EXPECT_STREQ(dataBack.name, "L:A");
}

}  // namespace
