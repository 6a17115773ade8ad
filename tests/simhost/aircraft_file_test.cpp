// The aircraft file format and the motions: the shipped sample aircraft load
// and move; every kind of mistake in a file is reported with its line; a
// generated aircraft written out and read back is the same aircraft.
#include "aircraft_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "aircraft_generator.h"
#include "aircraft_model.h"
#include "motion.h"

using namespace simhost;

namespace {

const std::string kAircraftDir = SIMHOST_AIRCRAFT_DIR;

Motion Sine(double center, double amplitude, double period, double phase) {
  Motion m;
  m.kind = MotionKind::kSine;
  m.center = center;
  m.amplitude = amplitude;
  m.period = period;
  m.phase = phase;
  return m;
}

std::string ParseError(const std::string& text) {
  AircraftDescription description;
  std::string error;
  EXPECT_FALSE(ParseAircraft(text, &description, &error)) << text;
  return error;
}

}  // namespace

TEST(AircraftFileTest, TheSampleAirlinerHasFiftyVariablesThatMove) {
  AircraftDescription description;
  std::string error;
  ASSERT_TRUE(LoadAircraftFile(kAircraftDir + "/airliner.aircraft", &description, &error)) << error;
  EXPECT_EQ("TAVO Twinjet 320 (simhost sample)", description.title);
  ASSERT_GE(description.variables.size(), 50u);
  EXPECT_FALSE(description.mjc.enabled);
  EXPECT_EQ("ENG1_N1", description.variables[0].name);

  // Sample every variable every 7.3 simulated seconds for two hours: all but
  // the three constants (APU off, navigation lights, no-smoking sign) move.
  NamePool pool;
  AircraftModel model(description, pool);
  std::set<std::string> still;
  for (int32_t id = 0; id < static_cast<int32_t>(model.Count()); ++id) {
    std::set<double> values;
    for (double t = 0.0; t < 7200.0; t += 7.3) {
      double v = model.Read(id, t);
      EXPECT_TRUE(std::isfinite(v)) << model.Name(id);
      values.insert(v);
    }
    if (values.size() < 2) still.insert(model.Name(id));
  }
  EXPECT_EQ((std::set<std::string>{"APU_N", "LIGHT_NAV", "SIGN_NO_SMOKING"}), still);

  AircraftDescription mjc;
  ASSERT_TRUE(LoadAircraftFile(kAircraftDir + "/airliner_mjc.aircraft", &mjc, &error)) << error;
  EXPECT_TRUE(mjc.mjc.enabled);
  EXPECT_FALSE(mjc.mjc.readOnly);
  EXPECT_EQ(30u, mjc.mjc.delayMs);
  ASSERT_EQ(description.variables.size() + 4, mjc.variables.size());
  // The handshake variables take the ids after the airliner's own.
  EXPECT_EQ("MJC_VAR_READ_CODE", mjc.variables[description.variables.size()].name);
  EXPECT_EQ("MJC_VAR_WRITE_VALUE", mjc.variables[description.variables.size() + 3].name);
  ASSERT_FALSE(mjc.mjc.codes.empty());
  EXPECT_EQ(1001u, mjc.mjc.codes[0].code);
  EXPECT_EQ(MjcAnswer::kVariable, mjc.mjc.codes[0].answer);
  EXPECT_EQ("ENG1_N1", mjc.mjc.codes[0].variable);
}

TEST(AircraftFileTest, EveryLineFormIsReadAndCommentsAreSkipped) {
  AircraftDescription description;
  std::string error;
  ASSERT_TRUE(ParseAircraft("# a test aircraft\r\n"
                            "  title   Test Jet 7#B Deluxe  # comment\r\n"
                            "\n"
                            "var A 3.5\n"
                            "var B const -2\n"
                            "VAR C sine 10 2 4 90\n"
                            "var D ramp 0 100 10\n"
                            "var E toggle 1 0 0.5\n"
                            "var F walk 5 1 0 10 0.25\n"
                            "seed 99\n"
                            "mjc handshake read-only\n"
                            "mjc delay 15\n"
                            "mjc unknown silent\n"
                            "mjc code 7 var C\n"
                            "mjc code 8 value 1.5\n"
                            "mjc code 9 notfound\n"
                            "mjc code 10 silent\n",
                            &description, &error))
      << error;
  EXPECT_EQ("Test Jet 7#B Deluxe", description.title);
  ASSERT_EQ(8u, description.variables.size());  // six of the file's, two of the read-only handshake
  EXPECT_EQ(3.5, description.variables[0].motion.value);
  EXPECT_EQ(-2.0, description.variables[1].motion.value);
  EXPECT_EQ(MotionKind::kSine, description.variables[2].motion.kind);
  EXPECT_EQ(90.0, description.variables[2].motion.phase);
  EXPECT_EQ(MotionKind::kRamp, description.variables[3].motion.kind);
  EXPECT_EQ(MotionKind::kToggle, description.variables[4].motion.kind);
  EXPECT_EQ(0.25, description.variables[5].motion.interval);
  EXPECT_EQ("MJC_VAR_READ_CODE", description.variables[6].name);
  EXPECT_EQ("MJC_VAR_READ_VALUE", description.variables[7].name);
  EXPECT_EQ(99u, description.seed);
  EXPECT_TRUE(description.mjc.readOnly);
  EXPECT_EQ(15u, description.mjc.delayMs);
  EXPECT_EQ(MjcAnswer::kSilent, description.mjc.unknownAnswer);
  ASSERT_EQ(4u, description.mjc.codes.size());
  EXPECT_EQ(1.5, description.mjc.codes[1].value);
  EXPECT_EQ(MjcAnswer::kNotFound, description.mjc.codes[2].answer);
  EXPECT_EQ(MjcAnswer::kSilent, description.mjc.codes[3].answer);
}

TEST(AircraftFileTest, MistakesAreReportedWithTheirLine) {
  EXPECT_EQ("no title line", ParseError("var A 1\n"));
  EXPECT_EQ("line 2: a second title line", ParseError("title A\ntitle B\n"));
  EXPECT_EQ("line 1: an empty title", ParseError("title   \n"));
  EXPECT_EQ("line 3: the variable \"a\" is declared twice", ParseError("title T\nvar A 1\nvar a 2\n"));
  EXPECT_EQ("line 2: \"x1\" is not a number", ParseError("title T\nvar A sine 1 x1 3\n"));
  EXPECT_EQ("line 2: \"sine\" takes 3 to 4 numbers", ParseError("title T\nvar A sine 1 2\n"));
  EXPECT_EQ("line 2: unknown motion \"spin\"", ParseError("title T\nvar A spin 1 2\n"));
  EXPECT_EQ("line 2: the period must be above 0", ParseError("title T\nvar A toggle 0 1 0\n"));
  EXPECT_EQ("line 2: walk: low is above high", ParseError("title T\nvar A walk 0 1 5 2\n"));
  EXPECT_EQ("line 2: names beginning with MJC_VAR_ belong to \"mjc handshake\"",
            ParseError("title T\nvar mjc_var_read_code 1\n"));
  EXPECT_EQ("line 2: unknown keyword \"bogus\"", ParseError("title T\nbogus 1\n"));
  EXPECT_EQ("mjc settings without \"mjc handshake\"", ParseError("title T\nmjc delay 5\n"));
  EXPECT_EQ("mjc code 5 names the unknown variable \"NOPE\"",
            ParseError("title T\nmjc handshake\nmjc code 5 var NOPE\n"));
  EXPECT_EQ("line 4: mjc code 5 is given twice",
            ParseError("title T\nmjc handshake\nmjc code 5 notfound\nmjc code 5 silent\n"));
  EXPECT_EQ("line 2: mjc code takes a code from 1 to 4294967295 and an answer",
            ParseError("title T\nmjc code 0 notfound\n"));
  EXPECT_EQ("line 2: a name longer than 250 characters", ParseError("title T\nvar " + std::string(251, 'N') + " 1\n"));

  AircraftDescription description;
  std::string error;
  EXPECT_FALSE(LoadAircraftFile(kAircraftDir + "/no-such-file.aircraft", &description, &error));
  EXPECT_NE(std::string::npos, error.find("no-such-file.aircraft: cannot be opened")) << error;
}

TEST(AircraftFileTest, AGeneratedAircraftSurvivesWritingAndReading) {
  AircraftDescription generated = GenerateAircraft(10000, 7, true);
  ASSERT_EQ(10004u, generated.variables.size());
  std::set<std::string> names;
  for (const VariableDescription& v : generated.variables) names.insert(v.name);
  EXPECT_EQ(generated.variables.size(), names.size());

  AircraftDescription read;
  std::string error;
  ASSERT_TRUE(ParseAircraft(FormatAircraft(generated), &read, &error)) << error;
  EXPECT_EQ(generated.title, read.title);
  EXPECT_EQ(generated.seed, read.seed);
  ASSERT_EQ(generated.variables.size(), read.variables.size());
  for (size_t i = 0; i < read.variables.size(); ++i) {
    const Motion& a = generated.variables[i].motion;
    const Motion& b = read.variables[i].motion;
    ASSERT_EQ(generated.variables[i].name, read.variables[i].name);
    ASSERT_TRUE(a.kind == b.kind && a.value == b.value && a.center == b.center && a.amplitude == b.amplitude &&
                a.phase == b.phase && a.from == b.from && a.to == b.to && a.a == b.a && a.b == b.b &&
                a.step == b.step && a.low == b.low && a.high == b.high && a.period == b.period &&
                a.interval == b.interval)
        << read.variables[i].name;
  }
  EXPECT_TRUE(read.mjc.enabled);
  ASSERT_EQ(generated.mjc.codes.size(), read.mjc.codes.size());
  EXPECT_EQ(generated.mjc.codes[99].value, read.mjc.codes[99].value);
}

TEST(MotionTest, EachMotionFollowsTheSimulationClock) {
  Motion sine = Sine(10, 2, 4, 0);
  EXPECT_NEAR(10.0, EvaluateMotion(sine, 0.0), 1e-12);
  EXPECT_NEAR(12.0, EvaluateMotion(sine, 1.0), 1e-12);  // a quarter period
  EXPECT_NEAR(8.0, EvaluateMotion(sine, 3.0), 1e-12);
  EXPECT_NEAR(12.0, EvaluateMotion(Sine(10, 2, 4, 90), 0.0), 1e-12);  // phase in degrees

  Motion ramp;
  ramp.kind = MotionKind::kRamp;
  ramp.from = 100;
  ramp.to = 0;
  ramp.period = 10;
  EXPECT_DOUBLE_EQ(100.0, EvaluateMotion(ramp, 0.0));
  EXPECT_DOUBLE_EQ(75.0, EvaluateMotion(ramp, 2.5));
  EXPECT_DOUBLE_EQ(75.0, EvaluateMotion(ramp, 12.5));  // a sawtooth

  Motion toggle;
  toggle.kind = MotionKind::kToggle;
  toggle.a = 1;
  toggle.b = 0;
  toggle.period = 0.5;
  EXPECT_EQ(1.0, EvaluateMotion(toggle, 0.0));
  EXPECT_EQ(1.0, EvaluateMotion(toggle, 0.49));
  EXPECT_EQ(0.0, EvaluateMotion(toggle, 0.5));
  EXPECT_EQ(1.0, EvaluateMotion(toggle, 1.2));

  Motion walk;
  walk.kind = MotionKind::kWalk;
  walk.value = 5;
  walk.step = 3;
  walk.low = 0;
  walk.high = 10;
  walk.interval = 1;
  WalkState a = StartWalk(walk, 42, 3);
  WalkState b = StartWalk(walk, 42, 3);
  WalkState other = StartWalk(walk, 42, 4);
  EXPECT_EQ(5.0, AdvanceWalk(walk, a, 0.9));  // no step before the first interval
  std::set<double> seen;
  bool differs = false;
  for (int t = 1; t <= 200; ++t) {
    double va = AdvanceWalk(walk, a, t);
    EXPECT_EQ(va, AdvanceWalk(walk, b, t));  // the same seed and id walk alike
    differs = differs || va != AdvanceWalk(walk, other, t);
    EXPECT_GE(va, 0.0);
    EXPECT_LE(va, 10.0);
    seen.insert(va);
  }
  EXPECT_TRUE(differs);
  EXPECT_GT(seen.size(), 100u);
  // Reading the same time again does not step.
  EXPECT_EQ(AdvanceWalk(walk, a, 200), AdvanceWalk(walk, a, 200.5));
}
