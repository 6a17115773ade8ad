// Requests as they reach a raw pipe server, byte for byte, with their SendIDs;
// string and size limits; requests on a failed or null connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simconnect/SimConnect.h"
#include "simconnect/request_encoding.h"
#include "support/bytes.h"
#include "support/library_link.h"

namespace {

TEST(Requests, EveryLayoutArrivesByteForByteWithSendIdsFromOne) {
  LibraryLink link("layouts");
  ASSERT_TRUE(link.connected());
  RawServer& server = *link.server;
  HANDLE h = link.handle;

  // The bytes of the bridge's other requests (menus, client data) are checked by the bridge's tests.
  ASSERT_EQ(SimConnect_AddToDataDefinition(h, 1, "TITLE", "", 10, 0.5f, 0xFFFFFFFF), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(544).Header(0xF000000C, 1).U32(16, 1).Text(20, "TITLE").U32(532, 10)
                                      .F32(536, 0.5f).U32(540, 0xFFFFFFFF).vec());
  ASSERT_EQ(SimConnect_RequestDataOnSimObject(h, 10001, 1, 2, 4, 5, 6, 7, 8), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(48).Header(0xF000000E, 2).U32(16, 10001).U32(20, 1).U32(24, 2).U32(28, 4)
                                      .U32(32, 5).U32(36, 6).U32(40, 7).U32(44, 8).vec());
  ASSERT_EQ(SimConnect_MenuAddSubItem(h, 1, "Disable LVAR Access", 101, 9), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(284).Header(0xF0000033, 3).U32(16, 1).Text(20, "Disable LVAR Access")
                                      .U32(276, 101).U32(280, 9).vec());
  ASSERT_EQ(SimConnect_CreateClientData(h, 3, 268, 2), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(28).Header(0xF0000038, 4).U32(16, 3).U32(20, 268).U32(24, 2).vec());
  ASSERT_EQ(SimConnect_AddToClientDataDefinition(h, 4, 8, 268, 0.25f, 0xFFFFFFFF), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(36).Header(0xF0000039, 5).U32(16, 4).U32(20, 8).U32(24, 268)
                                      .U32(28, 0x3E800000).U32(32, 0xFFFFFFFF).vec());
  ASSERT_EQ(SimConnect_RequestClientData(h, 2, 10000, 5, 3, 1, 2, 3, 4), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(48).Header(0xF000003B, 6).U32(16, 2).U32(20, 10000).U32(24, 5).U32(28, 3)
                                      .U32(32, 1).U32(36, 2).U32(40, 3).U32(44, 4).vec());
  // 30 seconds travel as the float 30.0 (0x41F00000), not as the integer 30.
  const char text[] = "TAVO.quin: LVAR access enabled";
  ASSERT_EQ(SimConnect_Text(h, 5, 30.0f, 10007, sizeof text, text), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(32 + sizeof text).Header(0xF0000040, 7).U32(16, 5).U32(20, 0x41F00000)
                                      .U32(24, 10007).U32(28, sizeof text).Raw(32, text, sizeof text).vec());
  uint32_t last = 0;
  EXPECT_TRUE(SimConnect_GetLastSentPacketID(h, &last) == S_OK && last == 7u) << last;
  // After 0xFFFFFFFF the numbering goes on at 1: 0 is never a SendID.
  EXPECT_EQ(request_encoding::NextSendId(0xFFFFFFFE), 0xFFFFFFFFu);
  EXPECT_EQ(request_encoding::NextSendId(0xFFFFFFFF), 1u);
}

TEST(Requests, WhatDoesNotFitSendsNothingAndAFailedConnectionGivesItsStatus) {
  LibraryLink link("limits");
  ASSERT_TRUE(link.connected());
  HANDLE h = link.handle;
  // 255 characters and the NUL fill the field; 256 are refused, the SendID spent.
  ASSERT_EQ(SimConnect_MapClientDataNameToID(h, std::string(255, 'x').c_str(), 1), S_OK);
  EXPECT_EQ(link.server->ReadMessage(), Bytes(276).Header(0xF0000037, 1).Text(16, std::string(255, 'x')).U32(272, 1).vec());
  const std::string tooLong(256, 'y');
  EXPECT_EQ(SimConnect_MapClientDataNameToID(h, tooLong.c_str(), 2), kResultStringTooLong);
  EXPECT_EQ(SimConnect_AddToDataDefinition(h, 1, "TITLE", tooLong.c_str(), 10, 0.0f, 0), kResultStringTooLong);
  // A data block of 41052 bytes fills the 41088-byte send buffer; one byte
  // more is refused before it is numbered.
  std::vector<uint8_t> block(41088 - 36 + 1, 0x5A);
  EXPECT_EQ(SimConnect_SetClientData(h, 2, 2, 0, 0, 41088 - 36 + 1, block.data()), E_FAIL);
  ASSERT_EQ(SimConnect_SetClientData(h, 2, 2, 6, 7, 41088 - 36, block.data()), S_OK);
  // The refused requests left nothing in the send buffer.
  EXPECT_TRUE(link.server->ReadMessage() ==
              Bytes(41088).Header(0xF000003C, 4).U32(16, 2).U32(20, 2).U32(24, 6).U32(28, 7).U32(32, 41052)
                  .Raw(36, block.data(), 41052).vec());
  ASSERT_EQ(SimConnect_SetClientData(h, 2, 2, 0, 0, 0, nullptr), S_OK);
  EXPECT_EQ(link.server->ReadMessage(), Bytes(36).Header(0xF000003C, 5).U32(16, 2).U32(20, 2).vec());

  // A failed connection gives its status and takes no SendID; a null one E_FAIL.
  link.server->CloseClient();
  ASSERT_TRUE(link.event.Wait()) << "a failure notifies";
  ASSERT_TRUE(link.Failed());
  const HRESULT pipeBroken = static_cast<HRESULT>(0xC000014B);
  // Every request function builds through one path; three kinds of request stand for all.
  const char data[4] = {};
  const auto requests = [&data](HANDLE h) {
    return std::vector<HRESULT>{SimConnect_MenuRemoveSubItem(h, 1, 2), SimConnect_MapClientDataNameToID(h, "x", 1),
                                SimConnect_SetClientData(h, 1, 1, 0, 0, 4, data)};
  };
  EXPECT_EQ(requests(h), std::vector<HRESULT>(3, pipeBroken));
  uint32_t last = 99;
  ASSERT_EQ(SimConnect_GetLastSentPacketID(h, &last), S_OK);
  EXPECT_EQ(last, 5u);
  EXPECT_EQ(requests(nullptr), std::vector<HRESULT>(3, E_FAIL));
  EXPECT_EQ(SimConnect_Close(nullptr), E_FAIL);
  EXPECT_EQ(SimConnect_GetLastSentPacketID(nullptr, &last), E_FAIL);
  EXPECT_EQ(last, 5u) << "untouched";
}

}  // namespace
