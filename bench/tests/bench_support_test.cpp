// The arithmetic under the benchmarks' figures: percentiles, the histogram
// that stands in for millions of samples, the lateness of publications, the
// line fit, the benchmark panel table and the framing harness. A wrong figure
// here would make every benchmark report a wrong ratio.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <numeric>
#include <random>
#include <vector>

#include "../client/framing_stream.h"
#include "bench_panels.h"
#include "lateness.h"
#include "process_stats.h"
#include "stats.h"

namespace {

using bench::Histogram;
using bench::LatenessTracker;
using bench::Summarize;

TEST(BenchStats, SummaryUsesNearestRankOnShuffledSamples) {
  std::vector<double> samples(100);
  std::iota(samples.begin(), samples.end(), 1.0);  // 1 .. 100
  std::shuffle(samples.begin(), samples.end(), std::mt19937(7));
  bench::Summary s = Summarize(samples);
  EXPECT_EQ(s.count, 100u);
  EXPECT_EQ(s.min, 1.0);
  EXPECT_EQ(s.median, 50.0);  // rank ceil(0.5 * 100) = 50
  EXPECT_EQ(s.p99, 99.0);     // rank 99, not the maximum
  EXPECT_EQ(s.max, 100.0);
  EXPECT_DOUBLE_EQ(s.mean, 50.5);

  // With fewer than 100 samples the 99th percentile is the largest.
  bench::Summary small = Summarize({3.0, 1.0, 2.0});
  EXPECT_EQ(small.median, 2.0);
  EXPECT_EQ(small.p99, 3.0);
  EXPECT_EQ(Summarize({}).count, 0u);
  EXPECT_EQ(Summarize({}).p99, 0.0);
}

TEST(BenchStats, HistogramAgreesWithExactPercentilesWithinOneBin) {
  Histogram h(-1.0, 0.5, 40);  // [-1, 19) in bins of 0.5
  std::vector<double> values;
  std::mt19937 random(11);
  std::uniform_real_distribution<double> spread(-0.9, 18.9);
  for (int i = 0; i < 5000; ++i) values.push_back(spread(random));
  for (double v : values) h.Add(v);
  bench::Summary exact = Summarize(values);
  EXPECT_EQ(h.Count(), 5000u);
  EXPECT_GE(h.Percentile(0.5), exact.median);
  EXPECT_LE(h.Percentile(0.5), exact.median + 0.5);
  EXPECT_GE(h.Percentile(0.99), exact.p99);
  EXPECT_LE(h.Percentile(0.99), exact.p99 + 0.5);
  EXPECT_EQ(h.Min(), exact.min);
  EXPECT_EQ(h.Max(), exact.max);

  // Values outside the bins keep their extremes and their ranks.
  Histogram edges(0.0, 1.0, 10);
  edges.Add(-5.0);
  edges.Add(2.5);
  edges.Add(250.0);
  EXPECT_EQ(edges.Percentile(0.01), -5.0);  // the underflow ranks as the minimum
  EXPECT_EQ(edges.Percentile(0.5), 3.0);    // upper edge of the bin [2, 3)
  EXPECT_EQ(edges.Percentile(1.0), 250.0);  // the overflow ranks as the maximum
  EXPECT_EQ(edges.CountAtOrBelow(3.0), 2u);
  EXPECT_EQ(edges.CountAtOrBelow(2.9), 1u);  // the bin of 2.5 ends above 2.9
  EXPECT_EQ(edges.CountAtOrBelow(1000.0), 3u);
}

TEST(BenchStats, LatenessCountsEachPublicationAgainstThePreviousReadInsideTheWindow) {
  LatenessTracker tracker(2, 33.0);
  // Variable 0: its first report (a ForceUpdate) has nothing to be late for.
  tracker.Add(0, 1000.0, 1000.1);
  // Before the window: sets the last read but is not counted.
  tracker.Add(0, 1034.0, 1034.2);
  tracker.OpenWindow(1050.0);
  // Due at 1034 + 33 = 1067; read 4 ms late, published 0.5 ms after the read.
  tracker.Add(0, 1071.0, 1071.5);
  // Variable 1 enters with its first report inside the window: not counted.
  tracker.Add(1, 1060.0, 1060.0);
  // Due at 1093; read on time, published 20 ms later.
  tracker.Add(1, 1093.0, 1113.0);
  // An id beyond the table is ignored.
  tracker.Add(7, 1100.0, 1100.0);
  tracker.CloseWindow(1150.0);
  // After the window: not counted.
  tracker.Add(0, 1104.0, 1104.0);

  LatenessTracker::Result r = tracker.Results();
  EXPECT_EQ(r.published, 2u);
  EXPECT_DOUBLE_EQ(r.windowMs, 100.0);
  EXPECT_NEAR(r.publication.Min(), 4.5, 1e-9);
  EXPECT_NEAR(r.publication.Max(), 20.0, 1e-9);
  EXPECT_NEAR(r.read.Min(), 0.0, 1e-9);
  EXPECT_NEAR(r.read.Max(), 4.0, 1e-9);
  EXPECT_NEAR(r.transit.Max(), 20.0, 1e-9);
  EXPECT_EQ(r.publication.CountAtOrBelow(10.0), 1u);
}

TEST(BenchStats, LineFitRecoversSlopeAndIntercept) {
  double slope = 0, intercept = 0;
  ASSERT_TRUE(bench::FitLine({1000, 10000, 65535}, {1.5, 15.0, 98.3025}, &slope, &intercept));
  EXPECT_NEAR(slope, 0.0015, 1e-9);
  EXPECT_NEAR(intercept, 0.0, 1e-6);
  EXPECT_FALSE(bench::FitLine({5, 5}, {1, 2}, &slope, &intercept));
}

TEST(BenchPanels, TableAnswersLikeASimulatorsAndCountsItsCalls) {
  bench::BenchPanels panels(1200, bench::BenchPanels::Values::kReadTime);
  auto** table = static_cast<void**>(panels.Table());
  auto lookup = reinterpret_cast<int32_t (*)(const char*)>(table[49]);
  auto read = reinterpret_cast<double (*)(int32_t)>(table[51]);
  auto name = reinterpret_cast<const char* (*)(int32_t)>(table[57]);
  ASSERT_NE(lookup, nullptr);
  EXPECT_EQ(table[0], nullptr);

  EXPECT_STREQ(name(0), "BENCH_ENG1_N1_00000");
  EXPECT_STREQ(name(1199), bench::BenchPanels::MakeName(1199).c_str());
  EXPECT_EQ(name(1200), nullptr);
  EXPECT_EQ(name(-1), nullptr);
  for (uint32_t id : {0u, 1u, 7u, 1199u}) {
    uint32_t parsed = 0;
    ASSERT_TRUE(bench::BenchPanels::ParseId(name(static_cast<int32_t>(id)), &parsed));
    EXPECT_EQ(parsed, id);
    EXPECT_EQ(lookup(name(static_cast<int32_t>(id))), static_cast<int32_t>(id));
  }
  EXPECT_EQ(lookup("bench_hyd_sys_a_pressure_00001"), 1);  // case does not matter
  EXPECT_EQ(lookup("BENCH_ENG1_N1_00001"), -1);            // a made-up name
  EXPECT_EQ(lookup("MJC_VAR_READ_VALUE"), -1);
  uint32_t ignored = 0;
  EXPECT_FALSE(bench::BenchPanels::ParseId("BENCH_X_123", &ignored));

  double first = read(5);
  double second = read(5);
  EXPECT_GT(first, 0.0);
  EXPECT_GE(second, first);  // a read returns the time of the read
  EXPECT_EQ(panels.Reads(), 2u);
  EXPECT_EQ(panels.Lookups(), 7u);
  EXPECT_EQ(panels.NameQueries(), 4u + 2u * 4u);  // two per id in the loop
}

// Wine reports neither PrivateUsage nor a handle count, so the memory
// benchmark measures both itself; here the instruments see what is done.
TEST(BenchProcessStats, HandleProbeAndPrivateBytesFollowWhatTheProcessOpensAndCommits) {
  // The first named object makes the system open handles of its own (the
  // named-object directory), which stay: one named event first.
  CloseHandle(CreateEventW(nullptr, TRUE, FALSE, L"TVO.Bench.WarmUpEvent"));
  const std::vector<uintptr_t> before = process_stats::OpenHandleValues();
  const uint32_t handles = process_stats::CountOpenHandles();
  EXPECT_EQ(handles, before.size());
  EXPECT_GT(handles, 0u);

  HANDLE named = CreateEventW(nullptr, TRUE, FALSE, L"TVO.Bench.ProbeEvent");
  HANDLE unnamed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(named, nullptr);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_EQ(process_stats::CountOpenHandles(), handles + 2);
  std::map<std::string, int> added = process_stats::DescribeNewHandles(before, process_stats::OpenHandleValues());
  std::string seen;
  for (const auto& kind : added) seen += std::to_string(kind.second) + " x " + kind.first + "; ";
  ASSERT_EQ(added.size(), 2u) << "expected the two events, one with its name; found " << seen;
  EXPECT_EQ(added["Event"], 1);
  bool namedSeen = false;
  for (const auto& kind : added) {
    if (kind.first.find("TVO.Bench.ProbeEvent") != std::string::npos) namedSeen = kind.second == 1;
  }
  EXPECT_TRUE(namedSeen);
  CloseHandle(named);
  CloseHandle(unnamed);
  EXPECT_EQ(process_stats::CountOpenHandles(), handles);

  const uint64_t privateBefore = process_stats::PrivateCommittedBytes();
  const size_t size = 4 * 1048576;
  void* block = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(process_stats::PrivateCommittedBytes(), privateBefore + size);
  VirtualFree(block, 0, MEM_RELEASE);
  EXPECT_EQ(process_stats::PrivateCommittedBytes(), privateBefore);
}

TEST(BenchFraming, HarnessGivesBackEveryMessageForAnyReadSize) {
  for (size_t readSize : {7u, 4096u, 65536u}) {
    bench::FramingFigures f = bench::MeasureFraming(1, readSize);
    EXPECT_TRUE(f.intact) << "reads of " << readSize;
    EXPECT_GT(f.messages, 100u);
    EXPECT_GT(f.framingMiBs, 0.0);
    EXPECT_GT(f.copyMiBs, 0.0);
  }
}

}  // namespace
