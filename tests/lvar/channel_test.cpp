// The bytes the handler sends, as a real pipe server reads them: the set-up
// of the four client-data areas, the Connect reply and other events, VarData
// reports and the chunked variable list.
#include <cstring>
#include <memory>
#include <string>

#include "handler_fixture.h"
#include "mjc_aircraft.h"
#include "simconnect/SimConnect.h"
#include "support/bytes.h"
#include "support/raw_server.h"
#include "support/test_env.h"

namespace {

class ChannelTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    server_ = RawServer::ListenPipe(path_);
    ASSERT_NE(server_, nullptr);
    client_ = ConnectClientToPipe(path_, event_.handle);
    ASSERT_NE(client_, nullptr);
    ASSERT_TRUE(server_->Accept());
    lvar_test::SetHandle(client_);
  }
  void TearDown() override {
    lvar_test::SetHandle(nullptr);
    if (client_ != nullptr) SimConnect_Close(client_);
  }

  std::vector<uint8_t> Next() { return server_->ReadMessage(); }

  // The SetClientData request that writes `record` into an area.
  static std::vector<uint8_t> SetClientData(uint32_t sendId, uint32_t area, uint32_t definition,
                                            const std::vector<uint8_t>& record) {
    return Bytes(36 + record.size())
        .Header(0xF000003C, sendId)
        .U32(16, area)
        .U32(20, definition)
        .U32(32, static_cast<uint32_t>(record.size()))
        .Raw(36, record.data(), record.size())
        .vec();
  }
  static std::vector<uint8_t> HostEvent(uint32_t reference, uint32_t code, double value, const std::string& text) {
    Bytes event(1044);
    event.U32(0, reference).U32(4, code).U32(8, 1).Raw(12, &value, 8).Text(20, text);
    return event.vec();
  }
  static std::vector<uint8_t> VarData(double value, uint32_t isMjc, const std::string& name) {
    Bytes data(268);
    data.Raw(0, &value, 8).U32(8, isMjc).Text(12, name);
    return data.vec();
  }
  static std::vector<uint8_t> VarDump(uint32_t firstId, uint32_t total, const std::string& names) {
    return Bytes(4012).U32(0, 0x01010202).U32(4, firstId).U32(8, total).Text(12, names).vec();
  }

  TestEvent event_;
  std::wstring path_ = UniquePipePath("lvar-channel");
  std::unique_ptr<RawServer> server_;
  SimConnectClient* client_ = nullptr;
};

TEST_F(ChannelTest, StartupMapsCreatesDefinesAndSubscribesInOrder) {
  lvar_test::SetTick(kStartTick + 777);
  handler.Startup();
  EXPECT_EQ(handler.lastHeartbeatTick, kStartTick + 777);

  struct Named {
    const char* name;
    uint32_t id;
  };
  const Named names[] = {
      {"TAVO_SC_DYN_VARDATA_ID", 0x4C565201},      {"TAVO_SC_DYN_VARDATA_DATA", 0x4C565202},
      {"TAVO_SC_DYN_VARDUMP_ID", 0x4C565203},      {"TAVO_SC_DYN_VARDUMP_DATA", 0x4C565204},
      {"TAVO_SC_DYN_HOSTRESQUEST_ID", 0x4C565205}, {"TAVO_SC_DYN_HOSTRESQUEST_DATA", 0x4C565206},
      {"TAVO_SC_DYN_HOSTEVENT_ID", 0x4C565207},    {"TAVO_SC_DYN_HOSTEVENT_DATA", 0x4C565208},
  };
  Lines expectedLog{"LVARHandler::Startup"};
  uint32_t sendId = 0;
  for (const Named& n : names) {
    ++sendId;
    EXPECT_EQ(Next(), Bytes(276).Header(0xF0000037, sendId).Text(16, n.name).U32(272, n.id).vec()) << n.name;
    expectedLog.push_back("SimConnect: MapClientDataNameToID " + std::string(n.name) + " ==> SUCCESS (SendID = " +
                          std::to_string(sendId) + ")");
  }
  const Named areas[] = {{"TAVO_SC_DYN_VARDATA_ID", 268},
                         {"TAVO_SC_DYN_VARDUMP_ID", 4012},
                         {"TAVO_SC_DYN_HOSTRESQUEST_ID", 276},
                         {"TAVO_SC_DYN_HOSTEVENT_ID", 1044}};
  const uint32_t areaIds[] = {0x4C565201, 0x4C565203, 0x4C565205, 0x4C565207};
  for (int i = 0; i < 4; ++i) {
    ++sendId;
    EXPECT_EQ(Next(), Bytes(28).Header(0xF0000038, sendId).U32(16, areaIds[i]).U32(20, areas[i].id).vec());
    expectedLog.push_back("SimConnect: CreateClientData " + std::string(areas[i].name) +
                          " ==> SUCCESS (SendID = " + std::to_string(sendId) + ")");
  }
  const Named definitions[] = {{"TAVO_SC_DYN_HOSTRESQUEST_DATA", 276},
                               {"TAVO_SC_DYN_VARDUMP_DATA", 4012},
                               {"TAVO_SC_DYN_VARDATA_DATA", 268},
                               {"TAVO_SC_DYN_HOSTEVENT_DATA", 1044}};
  const uint32_t definitionIds[] = {0x4C565206, 0x4C565204, 0x4C565202, 0x4C565208};
  for (int i = 0; i < 4; ++i) {
    ++sendId;
    EXPECT_EQ(Next(), Bytes(36).Header(0xF0000039, sendId).U32(16, definitionIds[i]).U32(24, definitions[i].id)
                          .U32(32, 0xFFFFFFFF).vec());
    expectedLog.push_back("SimConnect: AddToClientDataDefinition " + std::string(definitions[i].name) +
                          " ==> SUCCESS (SendID = " + std::to_string(sendId) + ")");
  }
  EXPECT_EQ(Next(), Bytes(48).Header(0xF000003B, 17).U32(16, 0x4C565205).U32(20, 10000).U32(24, 0x4C565206)
                        .U32(28, 3).vec());
  expectedLog.push_back("SimConnect: RequestClientData TAVO_SC_DYN_HOSTRESQUEST_ID ==> SUCCESS (SendID = 17)");
  EXPECT_EQ(lvar_test::LogLines(), expectedLog);
}

TEST_F(ChannelTest, ConnectReplyEventsAndTheAircraftTitle) {
  handler.Connect(records::MakeHostRequest(0xCAFEBABE, records::kCommandConnect, 9, "", 0.0));
  EXPECT_EQ(Next(), SetClientData(1, 0x4C565207, 0x4C565208,
                                  HostEvent(0xCAFEBABE, 7, 1.21, "TAVO.quin Bridge Version 1.0.0.21")));

  // A "%" in a name is no directive.
  handler.SendToClient(13, -1.0, "%s", "L:N1 50%d");
  EXPECT_EQ(Next(), SetClientData(2, 0x4C565207, 0x4C565208, HostEvent(0, 13, -1.0, "L:N1 50%d")));

  handler.SendAircraftName();
  EXPECT_EQ(Next(), SetClientData(3, 0x4C565207, 0x4C565208, HostEvent(0, 8, 1.21, "AIRCRAFT NOT KNOWN")));

  EXPECT_EQ(lvar_test::LogLines(), (Lines{"LVARHandler::Connect cafebabe",
                                          "LVARHandler::SendToCLient(0000000d,-1.000000,L:N1 50%d)",
                                          "SimConnect: SendToClient ==> SUCCESS (SendID = 2)",
                                          "LVARHandler::SendAircraftName"}));
}

TEST_F(ChannelTest, ValuesGoOutAsVarDataOnlyWhileConnected) {
  panels.Put(0, "L:GEAR", 0.5);
  handler.ScanLVARS(false, false);
  ConnectApp();
  Next();  // the Connect reply
  Start("L:GEAR", 100.0);
  EXPECT_EQ(Next(), SetClientData(2, 0x4C565201, 0x4C565202, VarData(0.5, 0, "L:GEAR")));

  panels.SetValue("L:GEAR", 0.75);
  lvar_test::AdvanceTick(100);
  handler.Update();
  EXPECT_EQ(Next(), SetClientData(3, 0x4C565201, 0x4C565202, VarData(0.75, 0, "L:GEAR")));

  // Disconnected: the change is counted as sent but nothing is written; the
  // next thing on the wire is the title asked for afterwards.
  handler.connected = false;
  panels.SetValue("L:GEAR", 1.0);
  lvar_test::AdvanceTick(100);
  handler.Update();
  handler.SendAircraftName();
  EXPECT_EQ(Next(), SetClientData(4, 0x4C565207, 0x4C565208, HostEvent(0, 8, 1.21, "AIRCRAFT NOT KNOWN")));
}

TEST_F(ChannelTest, MjcEntriesAreReportedWithTheirFlag) {
  MjcAircraft aircraft(panels);
  aircraft.values[77] = 6.25;
  handler.ScanLVARS(false, false);
  ConnectApp();
  Next();
  Start("MJC LIGHT", 0.0, 77);
  EXPECT_EQ(Next(), SetClientData(2, 0x4C565201, 0x4C565202, VarData(6.25, 1, "MJC LIGHT")));
}

class SendLVARSTest : public ChannelTest {
 protected:
  // Ordinary variables from id 3 on, an MJC entry, a connected application.
  // MJC_VAR_READ_VALUE at id 0 keeps the MJC entry in every scan without the
  // id lines in the log.
  void Build(const std::vector<std::string>& names) {
    panels.Put(0, "MJC_VAR_READ_VALUE", 0.0);
    int32_t id = 3;
    for (const auto& name : names) panels.Put(id++, name, 0.0);
    handler.ScanLVARS(false, false);
    auto mjc = std::make_unique<LVAREntry>();
    mjc->id = mjc->mjcCode = 5;
    mjc->SetName("MJC ENTRY");
    handler.registry.Append(std::move(mjc));
    ConnectApp();
    Next();
    lvar_test::ClearLog();
  }
  static std::string Joined(const std::vector<std::string>& names, size_t from, size_t to) {
    std::string text;
    for (size_t i = from; i < to; ++i) text += names[i] + ";";
    return text;
  }
};

TEST_F(SendLVARSTest, ANameThatFillsTheTextExactlyStillFitsItsChunk) {
  std::vector<std::string> names;
  for (int i = 0; i < 15; ++i) names.push_back(std::string(249, static_cast<char>('a' + i)));
  names.push_back(std::string(248, 'Q'));  // 248 + 2 + 3750 = 4000: appended
  names.push_back("Z");                    // 1 + 2 + 3999 > 4000: a new chunk
  Build(names);

  handler.SendLVARS();
  std::vector<uint8_t> first = Next();
  EXPECT_EQ(first, SetClientData(2, 0x4C565203, 0x4C565204, VarDump(0, 18, Joined(names, 0, 16))));
  ASSERT_EQ(first.size(), 36u + 4012u);
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(&first[36 + 12])), 3999u);
  EXPECT_EQ(Next(), SetClientData(3, 0x4C565203, 0x4C565204, VarDump(19, 18, "Z;")));
  EXPECT_EQ(Next(), SetClientData(4, 0x4C565203, 0x4C565204, VarDump(0xFFFFFFFF, 18, "")));
  EXPECT_EQ(lvar_test::LogLines(), (Lines{"LVARHandler::SendLVARS", "SimConnect: SendLVARSchunk ==> SUCCESS (SendID = 2)",
                                          "SimConnect: SendLVARrestChunk ==> SUCCESS (SendID = 3)",
                                          "SimConnect: SendLVARS ==> SUCCESS (SendID = 4)",
                                          "LVARHandler::SendLVARS End"}));
}

TEST_F(SendLVARSTest, ANameOneCharacterTooLongStartsTheNextChunkWithItsId) {
  std::vector<std::string> names;
  for (int i = 0; i < 16; ++i) names.push_back(std::string(249, static_cast<char>('a' + i)));
  Build(names);

  handler.SendLVARS();
  EXPECT_EQ(Next(), SetClientData(2, 0x4C565203, 0x4C565204, VarDump(0, 17, Joined(names, 0, 15))));
  EXPECT_EQ(Next(), SetClientData(3, 0x4C565203, 0x4C565204, VarDump(18, 17, Joined(names, 15, 16))));
  EXPECT_EQ(Next(), SetClientData(4, 0x4C565203, 0x4C565204, VarDump(0xFFFFFFFF, 17, "")));
}

TEST_F(SendLVARSTest, AFewNamesGiveOneRestChunkAndTheClosingRecord) {
  Build({"L:A", "L:B"});
  handler.SendLVARS();
  EXPECT_EQ(Next(), SetClientData(2, 0x4C565203, 0x4C565204, VarDump(0, 3, "L:A;L:B;")));
  EXPECT_EQ(Next(), SetClientData(3, 0x4C565203, 0x4C565204, VarDump(0xFFFFFFFF, 3, "")));

  // Only the MJC entry left: the closing record alone, still counting it.
  panels.Remove("L:A");
  panels.Remove("L:B");
  handler.SendLVARS();
  EXPECT_EQ(Next(), SetClientData(4, 0x4C565203, 0x4C565204, VarDump(0xFFFFFFFF, 1, "")));
  EXPECT_EQ(lvar_test::HandlerLines(),
            (Lines{"LVARHandler::SendLVARS", "LVARHandler::SendLVARS End", "LVARHandler::SendLVARS",
                   "L:A no longer exists. Removing.", "L:B no longer exists. Removing.",
                   "2 Changes 0 added 2 deleted (Total Vars 1)", "LVARHandler::SendLVARS End"}));
}

}  // namespace
