// The aircraft behind the panel-service table, as an add-on reaches it: the
// demo's sample MJC airliner enumerated, looked up and read as its variables
// move with the simulated frames; a write that holds; the MJC handshake
// answered after its delay, "not found", or never; and an aircraft change
// that gives new ids while the names handed out before stay readable.
#include <gtest/gtest.h>

#include "aircraft_file.h"
#include "aircraft_host.h"
#include "panel_services.h"

namespace {

uint64_t nowMs = 1000;  // the wall clock the MJC delay runs on
uint64_t FakeNow() { return nowMs; }

class AircraftTest : public ::testing::Test {
 protected:
  ~AircraftTest() override { simhost::InstallPanelServices(nullptr); }
  void Frames(int n) {
    for (int i = 0; i < n; ++i) clock.Advance();
  }
  double Read(const char* name) { return read(lookup(name)); }

  simhost::SimClock clock{30};
  simhost::AircraftHost aircraft{clock, FakeNow};
  const uint64_t* table = simhost::InstallPanelServices(&aircraft);
  const panel_table::LookupVariableIdFn lookup = reinterpret_cast<panel_table::LookupVariableIdFn>(table[49]);
  const panel_table::ReadVariableValueFn read = reinterpret_cast<panel_table::ReadVariableValueFn>(table[51]);
  const panel_table::WriteVariableValueFn write = reinterpret_cast<panel_table::WriteVariableValueFn>(table[53]);
  const panel_table::GetVariableNameFn name = reinterpret_cast<panel_table::GetVariableNameFn>(table[57]);
};

}  // namespace

TEST_F(AircraftTest, TheSampleAirlinerMovesWithTheFramesAndAnswersTheMjcHandshake) {
  simhost::AircraftDescription sample;
  std::string error;
  ASSERT_TRUE(simhost::LoadAircraftFile(SIMHOST_AIRCRAFT_DIR "/airliner_mjc.aircraft", &sample, &error)) << error;
  aircraft.Load(sample);
  for (size_t i = 0; i < panel_table::kEntries; ++i) {
    EXPECT_EQ(table[i] != 0, i == 49 || i == 51 || i == 53 || i == 57) << "entry " << i;
  }
  // The file's 52 variables in its order, then the four handshake variables.
  EXPECT_STREQ(name(0), "ENG1_N1");
  EXPECT_STREQ(name(55), "MJC_VAR_WRITE_VALUE");
  EXPECT_EQ(name(56), nullptr);
  EXPECT_EQ(lookup("eng2_n1"), 6);
  EXPECT_EQ(lookup("NOPE"), -1);

  // Each motion on the simulated clock, 30 frames a second.
  EXPECT_NEAR(Read("ENG2_N1"), 85.5, 1e-9);  // sine 84.0 +- 1.5 over 20 s, 90 degrees on
  EXPECT_EQ(Read("LIGHT_STROBE"), 1.0);      // toggle 1, 0 every 0.5 s
  Frames(150);
  EXPECT_NEAR(Read("ENG1_N1"), 85.7, 1e-9);        // sine 84.2 +- 1.5, a quarter period on
  EXPECT_NEAR(Read("CHRONO_ELAPSED"), 5.0, 1e-9);  // ramp 0 -> 3600 over 3600 s
  const double walked = Read("ENG1_FUEL_FLOW");    // walk from 1250 by up to 8 within [1180, 1320]
  EXPECT_TRUE(walked != 1250.0 && walked >= 1180.0 && walked <= 1320.0) << walked;
  // A written variable holds its value.
  write(lookup("ENG1_N1"), 77.5);
  Frames(15);
  EXPECT_EQ(Read("ENG1_N1"), 77.5);

  // Read handshake: the code is answered once the 30 ms delay has passed.
  const int32_t readCode = 52, readValue = 53, writeCode = 54, writeValue = 55;
  write(readCode, 1001.0);  // ENG1_N1
  nowMs += 29;
  EXPECT_EQ(read(readCode), 1001.0);
  nowMs += 1;
  EXPECT_EQ(read(readCode), 9991999.0);
  EXPECT_EQ(read(readValue), 77.5);
  // A value of the code's own, "not found", an unknown code, a silent code.
  const double reads[][2] = {{2003, 9991999}, {3001, 9992999}, {4444, 9992999}, {3002, 3002}};
  for (const auto& r : reads) {
    write(readCode, r[0]);
    nowMs += 1000;
    EXPECT_EQ(read(readCode), r[1]) << r[0];
  }
  EXPECT_EQ(read(readValue), 42.5);

  // Write handshake: the value first, then the code; stored after the delay.
  write(writeValue, 1.0 - Read("LIGHT_LANDING"));
  write(writeCode, 1020.0);  // LIGHT_LANDING
  EXPECT_EQ(Read("LIGHT_LANDING"), 1.0 - read(writeValue));
  nowMs += 30;
  EXPECT_EQ(read(writeCode), 9991999.0);
  Frames(1500);
  EXPECT_EQ(Read("LIGHT_LANDING"), read(writeValue));

  // Another aircraft: new ids from 0; a name handed out before still reads.
  const char* oldName = name(0);
  aircraft.Load(simhost::RampAircraft("Second", "B", 1, 1.0));
  EXPECT_EQ(lookup("ENG1_N1"), -1);
  EXPECT_EQ(lookup("b0"), 0);
  EXPECT_STREQ(oldName, "ENG1_N1");
}
