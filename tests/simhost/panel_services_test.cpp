// The panel-service table as an add-on sees it: only entries 49, 51, 53 and
// 57 are set; through them the loaded aircraft's variables are enumerated,
// looked up, read as they move on the simulation clock, and written; an
// aircraft change reassigns the ids; and an MJC aircraft answers the read and
// write handshakes after its delay, with "data not found" or not at all.
#include "panel_services.h"

#include <gtest/gtest.h>

#include <string>

#include "aircraft_file.h"
#include "aircraft_host.h"
#include "sim_clock.h"

using namespace simhost;

namespace {

uint64_t fakeNowMs = 1000;
uint64_t FakeNow() { return fakeNowMs; }

// The four services, called through the table as the add-on calls them.
struct Services {
  explicit Services(const uint64_t* table)
      : lookup(reinterpret_cast<LookupVariableIdFn>(static_cast<uintptr_t>(table[49]))),
        read(reinterpret_cast<ReadVariableValueFn>(static_cast<uintptr_t>(table[51]))),
        write(reinterpret_cast<WriteVariableValueFn>(static_cast<uintptr_t>(table[53]))),
        name(reinterpret_cast<GetVariableNameFn>(static_cast<uintptr_t>(table[57]))) {}
  LookupVariableIdFn lookup;
  ReadVariableValueFn read;
  WriteVariableValueFn write;
  GetVariableNameFn name;
};

AircraftDescription Parse(const std::string& text) {
  AircraftDescription description;
  std::string error;
  EXPECT_TRUE(ParseAircraft(text, &description, &error)) << error;
  return description;
}

class PanelServicesTest : public ::testing::Test {
 protected:
  PanelServicesTest() : aircraft(clock, FakeNow) { table = InstallPanelServices(&aircraft); }
  ~PanelServicesTest() override { InstallPanelServices(nullptr); }

  void Frames(int n) {
    for (int i = 0; i < n; ++i) clock.Advance();
  }

  SimClock clock{30};
  AircraftHost aircraft;
  const uint64_t* table = nullptr;
};

}  // namespace

TEST_F(PanelServicesTest, OnlyTheFourServiceEntriesAreSet) {
  ASSERT_EQ(PanelServiceTable(), table);
  for (size_t i = 0; i < kPanelTableEntries; ++i) {
    bool service = i == 49 || i == 51 || i == 53 || i == 57;
    EXPECT_EQ(service, table[i] != 0) << "entry " << i;
  }
}

TEST_F(PanelServicesTest, VariablesAreEnumeratedReadWrittenAndMoveWithTheFrames) {
  aircraft.Load(Parse("title Test\n"
                      "var FLAPS 2\n"
                      "var Beacon toggle 1 0 1\n"
                      "var N1 sine 50 10 4\n"));
  Services s(table);
  // Enumeration: ids 0, 1, 2, then nothing.
  EXPECT_STREQ("FLAPS", s.name(0));
  EXPECT_STREQ("Beacon", s.name(1));
  EXPECT_STREQ("N1", s.name(2));
  EXPECT_EQ(nullptr, s.name(3));
  EXPECT_EQ(nullptr, s.name(-1));
  EXPECT_EQ(nullptr, s.name(65534));
  // Lookup without regard to case; -1 for unknown names and null.
  EXPECT_EQ(1, s.lookup("BEACON"));
  EXPECT_EQ(2, s.lookup("n1"));
  EXPECT_EQ(-1, s.lookup("NOPE"));
  EXPECT_EQ(-1, s.lookup(nullptr));
  // Values follow the simulation clock: 30 frames are one second.
  EXPECT_EQ(2.0, s.read(0));
  EXPECT_EQ(1.0, s.read(1));
  EXPECT_NEAR(50.0, s.read(2), 1e-9);
  Frames(30);
  EXPECT_EQ(0.0, s.read(1));
  EXPECT_NEAR(60.0, s.read(2), 1e-9);
  Frames(30);
  EXPECT_EQ(1.0, s.read(1));
  EXPECT_NEAR(50.0, s.read(2), 1e-9);
  // A write holds the value: the sine stops moving.
  s.write(2, 77.5);
  Frames(15);
  EXPECT_EQ(77.5, s.read(2));
  EXPECT_EQ(0.0, s.read(42));  // an unknown id reads 0 and writes nothing
  s.write(42, 1.0);
  EXPECT_EQ(3u, aircraft.VariableCount());
}

TEST_F(PanelServicesTest, AnAircraftChangeReassignsIdsAndKeepsOldNamesReadable) {
  aircraft.Load(Parse("title First\nvar A 1\nvar B 2\n"));
  Services s(table);
  const char* oldName = s.name(1);
  ASSERT_STREQ("B", oldName);
  const uint64_t generation = aircraft.Generation();

  aircraft.Load(Parse("title Second\nvar B 20\nvar C 30\nvar D 40\n"));
  EXPECT_EQ(generation + 1, aircraft.Generation());
  EXPECT_EQ("Second", aircraft.Title());
  EXPECT_EQ(0, s.lookup("B"));
  EXPECT_EQ(20.0, s.read(0));
  EXPECT_EQ(-1, s.lookup("A"));
  EXPECT_STREQ("D", s.name(2));
  EXPECT_STREQ("B", oldName);  // the pointer handed out before still reads

  // No aircraft installed: every service answers "nothing".
  InstallPanelServices(nullptr);
  EXPECT_EQ(-1, s.lookup("B"));
  EXPECT_EQ(nullptr, s.name(0));
  EXPECT_EQ(0.0, s.read(0));
}

TEST_F(PanelServicesTest, TheMjcAircraftAnswersBothHandshakesAfterItsDelay) {
  aircraft.Load(Parse("title MJC\n"
                      "var ALT 35000\n"
                      "mjc handshake\n"
                      "mjc delay 30\n"
                      "mjc code 1001 var ALT\n"
                      "mjc code 2003 value 42.5\n"
                      "mjc code 3001 notfound\n"
                      "mjc code 3002 silent\n"));
  Services s(table);
  const int32_t readCode = s.lookup("MJC_VAR_READ_CODE");
  const int32_t readValue = s.lookup("MJC_VAR_READ_VALUE");
  const int32_t writeCode = s.lookup("MJC_VAR_WRITE_CODE");
  const int32_t writeValue = s.lookup("MJC_VAR_WRITE_VALUE");
  ASSERT_EQ(1, readCode);
  ASSERT_EQ(2, readValue);
  ASSERT_EQ(3, writeCode);
  ASSERT_EQ(4, writeValue);

  // Read of a code mapped to a variable: nothing before the delay, then done.
  s.write(readCode, 1001.0);
  EXPECT_EQ(1001.0, s.read(readCode));
  fakeNowMs += 29;
  EXPECT_EQ(1001.0, s.read(readCode));
  fakeNowMs += 1;
  EXPECT_EQ(9991999.0, s.read(readCode));
  EXPECT_EQ(35000.0, s.read(readValue));

  // A code with a value of its own.
  s.write(readCode, 2003.0);
  fakeNowMs += 30;
  EXPECT_EQ(9991999.0, s.read(readCode));
  EXPECT_EQ(42.5, s.read(readValue));

  // "Data not found" for a code marked so and for codes outside the table.
  s.write(readCode, 3001.0);
  fakeNowMs += 30;
  EXPECT_EQ(9992999.0, s.read(readCode));
  s.write(readCode, 4444.0);
  fakeNowMs += 30;
  EXPECT_EQ(9992999.0, s.read(readCode));

  // A silent code is never answered.
  s.write(readCode, 3002.0);
  fakeNowMs += 1000;
  EXPECT_EQ(3002.0, s.read(readCode));

  // Write handshake: the value first, then the code; the answer after the delay.
  s.write(writeValue, 36000.0);
  s.write(writeCode, 1001.0);
  EXPECT_EQ(1001.0, s.read(writeCode));
  EXPECT_EQ(35000.0, s.read(0));
  fakeNowMs += 30;
  EXPECT_EQ(9991999.0, s.read(writeCode));
  EXPECT_EQ(36000.0, s.read(0));
  // A written value is read back through the read handshake.
  s.write(writeValue, -1.25);
  s.write(writeCode, 2003.0);
  fakeNowMs += 30;
  EXPECT_EQ(9991999.0, s.read(writeCode));
  s.write(readCode, 2003.0);
  fakeNowMs += 30;
  EXPECT_EQ(9991999.0, s.read(readCode));
  EXPECT_EQ(-1.25, s.read(readValue));
  // A fractional code counts by its integer part.
  s.write(writeValue, 5.0);
  s.write(writeCode, 3001.75);
  fakeNowMs += 30;
  EXPECT_EQ(9992999.0, s.read(writeCode));

  // A read-only handshake has no write variables.
  aircraft.Load(Parse("title RO\nvar X 1\nmjc handshake read-only\n"));
  EXPECT_EQ(1, s.lookup("MJC_VAR_READ_CODE"));
  EXPECT_EQ(-1, s.lookup("MJC_VAR_WRITE_VALUE"));
  EXPECT_EQ(-1, s.lookup("MJC_VAR_WRITE_CODE"));
}
