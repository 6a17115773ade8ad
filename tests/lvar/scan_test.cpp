// ScanLVARS and the registry: discovery over every id below 65535,
// revalidation (removal, re-indexing) with the events that tell a connected
// application, and searches by name that ignore case.
#include <memory>
#include <string>

#include "linked_bridge.h"

namespace {

using namespace linked_bridge;
using ScanTest = LinkedBridgeTest;

TEST_F(ScanTest, DiscoveryWalksEveryIdBelow65535PastGaps) {
  panels.Put(0, "L:FIRST", 1.0);
  panels.Put(5, "L:Second", 2.0);
  panels.Put(7, std::string(260, 'N'), 3.0);
  panels.Put(65534, "L:LAST", 4.0);
  panels.Put(65535, "L:BEYOND", 5.0);
  handler->ScanLVARS(false, false);
  EXPECT_EQ(panels.nameQueries, 65535);
  EXPECT_EQ(NewLines(), Lines{"4 Changes 4 added 0 deleted (Total Vars 4)"});

  // A name that differs only in case is the variable already known.
  panels.Put(6, "L:SECOND", 9.0);
  Connect();
  // A name is kept as its first 250 characters, a name the panel table does
  // not know: the list's rescan finds it gone and adds it anew, at the end.
  EXPECT_EQ(Listed(), "L:FIRST;L:Second;L:LAST;" + std::string(250, 'N') + ";");
}

TEST_F(ScanTest, RescanRemovesReindexesAndAddsTellingOnlyAConnectedApplication) {
  for (int32_t id = 0; id < 3; ++id) panels.Put(id, std::string("L:") + char('A' + id), 1.0 + id);
  handler->ScanLVARS(false, true);
  EXPECT_TRUE(connection.Quiet());
  Connect();
  Start("L:B", 250.0);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(2.0, 0, "L:B"));

  panels.Remove("L:A");
  panels.Move("L:B", 20);
  panels.Put(21, "L:D", 4.5);
  NewLines();
  handler->ScanLVARS(true, true);
  EXPECT_EQ(NewLines(), (Lines{"L:A no longer exists. Removing.", "LVARHandler::SendToCLient(0000000f,0.000000,L:A)",
                               "L:B changed it's index!", "LVARHandler::SendToCLient(0000000c,4.500000,L:D)",
                               "2 Changes 1 added 1 deleted (Total Vars 3)"}));
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 15, 0.0, "L:A"));
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 12, 4.5, "L:D"));
  EXPECT_EQ(Listed(), "L:B;L:C;L:D;");

  // B stays monitored at its interval, read at its new id; A is gone.
  panels.Set("L:B", 7.0);
  After(250);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(7.0, 0, "L:B"));
  Start("L:A", 100.0);
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 13, -1.0, "L:A"));
  Start("l:c", 100.0);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(3.0, 0, "L:C"));
  EXPECT_TRUE(connection.Quiet());
}

TEST(RegistryTest, TheFirstOfTwoNamesDifferingInCaseIsFoundUntilItIsRemoved) {
  LVARRegistry registry;
  for (const char* name : {"Twin", "TWIN", "Other"}) {
    auto entry = std::make_unique<LVAREntry>();
    entry->SetName(name);
    entry->id = static_cast<uint32_t>(registry.size());
    registry.Append(std::move(entry));
  }
  EXPECT_EQ(registry.Find("twin")->id, 0u);
  registry[0].removed = true;
  EXPECT_EQ(registry.RemoveMarked(), 1u);
  EXPECT_EQ(registry.Find("twin")->id, 1u);
  EXPECT_EQ(registry.Find("OTHER")->id, 2u);
}

}  // namespace
