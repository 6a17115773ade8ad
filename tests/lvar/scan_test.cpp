// ScanLVARS: discovery, revalidation, re-indexing, removal, the MJC entries,
// and the registry's search by name.
#include <cmath>
#include <memory>
#include <string>

#include "handler_fixture.h"

namespace {

using ScanTest = HandlerTest;

TEST_F(ScanTest, DiscoveryWalksEveryIdBelow65535AndSkipsHandshakeVariables) {
  panels.Put(0, "L:FIRST", 1.0);
  panels.Put(5, "L:SECOND", 2.0);
  panels.Put(7, "MJC_VAR_READ_CODE", 0.0);
  panels.Put(8, "MJC_VAR_READ_VALUE", 0.0);
  panels.Put(9, "MJC_VAR_WRITE_VALUE", 0.0);
  panels.Put(10, "MJC_VAR_WRITE_CODE", 0.0);
  panels.Put(11, "", 3.0);  // an id without a name does not end the walk
  panels.Put(65534, "L:LAST", 4.0);
  panels.Put(65535, "L:BEYOND", 5.0);

  handler.ScanLVARS(false, false);

  EXPECT_EQ(panels.nameQueries, 65535);
  EXPECT_EQ(RegistryNames(), (std::vector<std::string>{"L:FIRST", "L:SECOND", "L:LAST"}));
  EXPECT_EQ(Entry("L:LAST").id, 65534u);
  EXPECT_EQ(Entry("L:SECOND").value, 2.0);
  EXPECT_EQ(Entry("L:SECOND").intervalMs, 1000u);
  EXPECT_FALSE(Entry("L:SECOND").monitored);
  EXPECT_EQ(handler.mjcReadValueId, 8);
  EXPECT_EQ(handler.mjcReadCodeId, 7);
  EXPECT_EQ(handler.mjcWriteValueId, 9);
  EXPECT_EQ(handler.mjcWriteCodeId, 10);
  EXPECT_EQ(TakeLines(), (Lines{"MJC_VAR_READ_VALUE = 8", "MJC_VAR_READ_CODE = 7", "MJC_VAR_WRITE_VALUE = 9",
                                "MJC_VAR_WRITE_CODE = 10", "3 Changes 3 added 0 deleted (Total Vars 3)"}));

  // A second scan that finds nothing new writes no summary line.
  panels.Remove("MJC_VAR_READ_VALUE");
  handler.ScanLVARS(true, true);
  EXPECT_EQ(handler.mjcReadValueId, -1);
  EXPECT_EQ(TakeLines(), Lines{});
}

TEST_F(ScanTest, RescanRemovesReindexesAndAddsKeepingMonitoringState) {
  panels.Put(0, "L:A", 1.0);
  panels.Put(1, "L:B", 2.0);
  panels.Put(2, "L:C", 3.0);
  handler.ScanLVARS(false, false);
  ConnectApp();
  Start("L:B", 250.0);
  Entry("L:B").lastSentValue = 2.0;
  TakeLines();

  panels.Remove("L:A");
  panels.Move("L:B", 20);
  panels.Put(21, "L:D", 4.5);
  handler.ScanLVARS(true, true);

  EXPECT_EQ(TakeLines(), (Lines{"L:A no longer exists. Removing.", "LVARHandler::SendToCLient(0000000f,0.000000,L:A)",
                                "L:B changed it's index!", "LVARHandler::SendToCLient(0000000c,4.500000,L:D)",
                                "2 Changes 1 added 1 deleted (Total Vars 3)"}));
  EXPECT_EQ(RegistryNames(), (std::vector<std::string>{"L:B", "L:C", "L:D"}));
  const LVAREntry& b = Entry("L:B");
  EXPECT_EQ(b.id, 20u);
  EXPECT_TRUE(b.monitored);
  EXPECT_EQ(b.intervalMs, 250u);
  EXPECT_EQ(b.lastSentValue, 2.0);
  EXPECT_EQ(handler.registry.Find("L:A"), nullptr);

  handler.ScanLVARS(true, true);
  EXPECT_EQ(TakeLines(), Lines{});
  panels.Move("L:C", 30);
  handler.ScanLVARS(true, false);
  // A re-indexed variable alone counts as no change.
  EXPECT_EQ(TakeLines(), (Lines{"L:C changed it's index!"}));
}

TEST_F(ScanTest, NotifyingScansTellOnlyAConnectedApplicationAndReportEachEvent) {
  panels.Put(0, "L:A", 1.0);
  panels.Put(1, "L:B", 2.0);
  handler.ScanLVARS(false, true);  // not connected: no events
  EXPECT_EQ(TakeLines(), Lines{"2 Changes 2 added 0 deleted (Total Vars 2)"});

  ConnectApp();
  lvar_test::ClearLog();
  handler.ScanLVARS(false, true);  // the rebuild of command 0
  const auto& all = lvar_test::LogLines();
  ASSERT_EQ(all.size(), 7u);
  EXPECT_EQ(all[0], "LVARHandler::SendToCLient(0000000c,1.000000,L:A)");
  EXPECT_EQ(all[1], "SimConnect: SendToClient (80004005) (SendID = -1) ==> FAILED");
  EXPECT_EQ(all[2], "gnDisplay -2147467259");
  EXPECT_EQ(all[3], "LVARHandler::SendToCLient(0000000c,2.000000,L:B)");
  EXPECT_EQ(all[6], "2 Changes 2 added 0 deleted (Total Vars 2)");
}

TEST_F(ScanTest, MjcEntriesStandWhileTheAircraftOffersTheHandshake) {
  panels.Put(0, "L:A", 1.0);
  panels.Put(3, "MJC_VAR_READ_VALUE", 0.0);
  handler.ScanLVARS(false, false);
  auto mjc = std::make_unique<LVAREntry>();
  mjc->id = mjc->mjcCode = 4711;
  mjc->SetName("FUEL PUMP");
  mjc->monitored = true;
  handler.registry.Append(std::move(mjc));
  TakeLines();

  handler.ScanLVARS(true, true);
  EXPECT_EQ(RegistryNames(), (std::vector<std::string>{"L:A", "FUEL PUMP"}));
  EXPECT_EQ(panels.lookups, 2 * 4 + 1);  // the MJC entry is not looked up
  TakeLines();

  // Without MJC_VAR_READ_VALUE it is looked up by name like an LVAR and dropped.
  panels.Remove("MJC_VAR_READ_VALUE");
  handler.ScanLVARS(true, false);
  EXPECT_EQ(RegistryNames(), (std::vector<std::string>{"L:A"}));
  EXPECT_EQ(TakeLines(), (Lines{"FUEL PUMP no longer exists. Removing.", "1 Changes 0 added 1 deleted (Total Vars 1)"}));
}

TEST_F(ScanTest, NamesDifferingOnlyInCaseAreOneVariable) {
  panels.Put(0, "L:Gear_Handle", 1.0);
  panels.Put(1, "L:GEAR_HANDLE", 2.0);
  handler.ScanLVARS(false, false);
  EXPECT_EQ(RegistryNames(), (std::vector<std::string>{"L:Gear_Handle"}));
  EXPECT_EQ(handler.registry.Find("l:gear_handle"), &Entry("L:Gear_Handle"));
  EXPECT_EQ(handler.registry.Find("L:Gear_Handl"), nullptr);
  EXPECT_EQ(handler.registry.Find(nullptr), nullptr);
}

TEST_F(ScanTest, RegistryKeepsTheFirstMatchInOrderAcrossRemovals) {
  LVARRegistry registry;
  auto make = [](const char* name, uint32_t id) {
    auto entry = std::make_unique<LVAREntry>();
    entry->SetName(name);
    entry->id = id;
    return entry;
  };
  registry.Append(make("Twin", 1));
  registry.Append(make("TWIN", 2));  // only a direct append makes such a pair
  registry.Append(make("Other", 3));
  EXPECT_EQ(registry.Find("twin")->id, 1u);
  registry[0].removed = true;
  EXPECT_EQ(registry.RemoveMarked(), 1u);
  EXPECT_EQ(registry.Find("twin")->id, 2u);
  EXPECT_EQ(registry.Find("OTHER")->id, 3u);
  EXPECT_EQ(registry.RemoveMarked(), 0u);
  registry.Clear();
  EXPECT_EQ(registry.Find("other"), nullptr);

  // Names are stored cut to 250 characters; the cut name is what is found.
  std::string longName(260, 'q');
  registry.Append(make(longName.c_str(), 9));
  EXPECT_EQ(std::string(registry[0].name).size(), 250u);
  EXPECT_NE(registry.Find(longName.substr(0, 250).c_str()), nullptr);
}

TEST_F(ScanTest, RebuildWithoutPanelsLeavesTheRegistryEmpty) {
  panels.Put(0, "L:A", 1.0);
  handler.ScanLVARS(false, false);
  TakeLines();
  Panels = nullptr;
  handler.ScanLVARS(true, true);
  EXPECT_EQ(handler.registry.size(), 1u);
  handler.ScanLVARS(false, true);
  EXPECT_EQ(handler.registry.size(), 0u);
  EXPECT_EQ(TakeLines(), Lines{});
}

TEST_F(ScanTest, TenThousandVariablesRescanWithOneLookupEach) {
  for (int i = 0; i < 10000; ++i) panels.Put(i, "L:VAR_" + std::to_string(i), i * 0.5);
  handler.ScanLVARS(false, false);
  ASSERT_EQ(handler.registry.size(), 10000u);
  EXPECT_EQ(TakeLines(), Lines{"10000 Changes 10000 added 0 deleted (Total Vars 10000)"});

  // Half of them go away, half of them come back under new ids and names.
  for (int i = 0; i < 10000; i += 2) panels.Remove("L:VAR_" + std::to_string(i));
  for (int i = 0; i < 5000; ++i) panels.Put(20000 + i, "L:NEW_" + std::to_string(i), 1.0);
  panels.lookups = 0;
  handler.ScanLVARS(true, false);
  EXPECT_EQ(panels.lookups, 4 + 10000);
  ASSERT_EQ(handler.registry.size(), 10000u);
  EXPECT_STREQ(handler.registry[0].name, "L:VAR_1");
  EXPECT_STREQ(handler.registry[4999].name, "L:VAR_9999");
  EXPECT_STREQ(handler.registry[5000].name, "L:NEW_0");
  EXPECT_EQ(handler.registry.Find("l:new_4999")->id, 24999u);
  EXPECT_EQ(handler.registry.Find("L:VAR_9998"), nullptr);
  const Lines lines = TakeLines();
  ASSERT_EQ(lines.size(), 5001u);
  EXPECT_EQ(lines[0], "L:VAR_0 no longer exists. Removing.");
  EXPECT_EQ(lines.back(), "10000 Changes 5000 added 5000 deleted (Total Vars 10000)");
}

}  // namespace
