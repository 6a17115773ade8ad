// The client-data channel as a server reads it: the Connect reply, events
// with their texts, the aircraft title and the variable list in chunks.
#include "linked_bridge.h"
#include "module_log.h"

namespace {

using namespace linked_bridge;
using module_log::Succeeded;
using ChannelTest = LinkedBridgeTest;

TEST_F(ChannelTest, ConnectIsAnsweredOncePerPeerAndEventsCarryTheirTexts) {
  Connect(9);
  handler->Connect(Request(records::kCommandConnect, "", 0.0, 9));
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(true), (Lines{"LVARHandler::Connect 00001234", "Already connected."}));
  Connect(10);

  // A "%" in a name is no directive; a text is cut at 1023 characters.
  handler->SendToClient(13, -1.0, "%s", "L:N1 50%d");
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 13, -1.0, "L:N1 50%d"));
  const std::string longText(1100, 't');
  handler->SendToClient(12, 0.1, "%s", longText.c_str());
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 12, 0.1, longText.substr(0, 1023)));

  // The title on request, then a new one, kept to 1000 characters and sent at
  // once; the same title in another case is no change.
  handler->SendAircraftName();
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 8, 1.21, "AIRCRAFT NOT KNOWN"));
  handler->OnAircraftTitle(std::string(1200, 'T').c_str());
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 8, 1.21, std::string(1000, 'T')));
  handler->OnAircraftTitle(std::string(1000, 't').c_str());
  EXPECT_TRUE(connection.Quiet());
}

TEST_F(ChannelTest, TheListFillsEachChunkToItsLastCharacterAndCountsTheMjcEntries) {
  // Distinct names of a given length: 15 of 249 characters and their ";" fill
  // 3750 of a chunk's 4000 characters, which must keep one for the NUL.
  auto name = [](int i, size_t length) {
    std::string text = "L:" + std::to_string(100 + i);
    return text + std::string(length - text.size(), 'x');
  };
  std::vector<std::string> names;
  for (int i = 0; i < 15; ++i) names.push_back(name(i, 249));
  names.push_back(name(15, 248));  // 3999 characters: it fits
  names.push_back("Z");            // the next chunk, from Z's id
  for (int i = 17; i < 32; ++i) names.push_back(name(i, 249));
  names.push_back(name(32, 247));  // 3752 + 248 would leave no NUL: the next chunk
  panels.EnableMjc(0);  // READ_VALUE at id 0: its ids are not logged
  std::string listed;
  for (size_t i = 0; i < names.size(); ++i) {
    panels.Put(static_cast<int32_t>(4 + i), names[i]);
    listed += names[i] + ";";
  }
  panels.mjcValues[5] = 1.0;
  handler->ScanLVARS(false, false);
  handler->SendLVARS();
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"33 Changes 33 added 0 deleted (Total Vars 33)", "LVARHandler::SendLVARS"}));

  Connect();
  Start("MJC ENTRY", 0.0, 5);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(1.0, 1, "MJC ENTRY"));
  NewLines();
  handler->SendLVARS();
  EXPECT_EQ(NextRecord(kVarDumpArea), VarDump(0, 34, listed.substr(0, 3999)));
  const int first = static_cast<int>(sendId);
  EXPECT_EQ(NextRecord(kVarDumpArea), VarDump(20, 34, listed.substr(3999, 3752)));
  EXPECT_EQ(NextRecord(kVarDumpArea), VarDump(36, 34, listed.substr(7751)));
  EXPECT_EQ(NextRecord(kVarDumpArea), VarDump(0xFFFFFFFF, 34, ""));
  EXPECT_EQ(NewLines(true), (Lines{"LVARHandler::SendLVARS", Succeeded("SendLVARSchunk", first),
                                   Succeeded("SendLVARSchunk", first + 1), Succeeded("SendLVARrestChunk", first + 2),
                                   Succeeded("SendLVARS", first + 3), "LVARHandler::SendLVARS End"}));
}

}  // namespace
