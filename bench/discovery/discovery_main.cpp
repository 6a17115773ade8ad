// Discovery: ScanLVARS as the aircraft change runs it (a rebuild), as the
// periodic rescan runs it (a full registry, nothing new), and SendLVARS (a
// rescan, then the list in VarDump chunks), with 1,000, 10,000, 30,000 and
// 65,535 variables. The bridge's code is linked directly over the tests'
// substitute panel table (tests/support/fake_panels.h), with the module's own
// log and no connection (every record write fails at once, so the figures
// leave the transport out): the figures are the bridge's own work. The floor is
// the panel services' own cost: the same calls of the table that each scan
// makes, timed alone; the difference is what the bridge adds.
//
//   bench_discovery [--repeat 15]
//
// 30,000 variables sit between the counts asked for, to show the shape of the
// growth.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "bench_panels.h"
#include "bridge/bridge_log.h"
#include "clock.h"
#include "fake_panels.h"
#include "lvar/bridge_services.h"
#include "lvar/lvar_handler.h"
#include "lvar/panel_services.h"
#include "lvar/variable_names.h"
#include "report.h"
#include "stats.h"

namespace {

using namespace bench;

// Median duration in milliseconds of `repeat` runs of `body`, each after
// `prepare` (not timed).
double MedianMs(int repeat, const std::function<void()>& prepare, const std::function<void()>& body) {
  std::vector<double> samples;
  for (int i = 0; i < repeat; ++i) {
    prepare();
    double start = NowUs();
    body();
    samples.push_back((NowUs() - start) / 1000.0);
  }
  return Summarize(samples).median;
}

// The four handshake lookups with which every scan starts.
void LookupHandshake() {
  for (const char* name : {variable_names::kMjcReadValue, variable_names::kMjcReadCode, variable_names::kMjcWriteValue,
                           variable_names::kMjcWriteCode}) {
    panels::LookupVariableId(name);
  }
}

// The table calls of a rebuild: every id's name, the first value of each
// variable found, and the four handshake lookups.
void RebuildCalls() {
  LookupHandshake();
  for (int32_t id = 0; id < panels::kVariableIdLimit; ++id) {
    const char* name = panels::GetVariableName(id);
    if (name != nullptr && name[0] != '\0') panels::ReadVariableValue(id);
  }
}

// The table calls of a rescan that finds nothing new: the handshake lookups,
// one lookup per known name, every id's name.
void RescanCalls(const std::vector<std::string>& names) {
  LookupHandshake();
  for (const std::string& name : names) panels::LookupVariableId(name.c_str());
  for (int32_t id = 0; id < panels::kVariableIdLimit; ++id) panels::GetVariableName(id);
}

struct Figures {
  uint32_t count;
  double rebuild, rebuildPanels;
  double rescan, rescanPanels;
  double sendList, sendListPanels;
};

Figures Measure(uint32_t count, int repeat) {
  // The benchmarks' variable names, each with a constant value.
  FakePanels table;
  std::vector<std::string> names;
  for (uint32_t id = 0; id < count; ++id) {
    names.push_back(BenchPanels::MakeName(id));
    table.Put(static_cast<int32_t>(id), names.back(), 42.0);
  }
  LVARHandler handler;
  handler.connected = true;  // SendLVARS serves only a connected application
  Figures f{};
  f.count = count;
  auto nothing = [] {};
  f.rebuildPanels = MedianMs(repeat, nothing, [] { RebuildCalls(); });
  f.rebuild = MedianMs(repeat, nothing, [&] { handler.ScanLVARS(false, false); });
  // The registry is full now: the periodic rescan finds nothing to add.
  f.rescanPanels = MedianMs(repeat, nothing, [&] { RescanCalls(names); });
  f.rescan = MedianMs(repeat, nothing, [&] { handler.ScanLVARS(true, true); });
  f.sendListPanels = f.rescanPanels;
  f.sendList = MedianMs(repeat, nothing, [&] { handler.SendLVARS(); });
  return f;
}

void Print(const char* label, const std::vector<Figures>& all, double Figures::*total, double Figures::*floor) {
  Note("%s:", label);
  std::vector<double> x, y;
  for (const Figures& f : all) {
    double beyond = f.*total - f.*floor;
    std::printf("  %6u variables: %8.2f ms, panel services alone %7.2f ms, beyond them %8.2f ms (%.2f us a variable)\n",
                f.count, f.*total, f.*floor, beyond, 1000.0 * beyond / f.count);
    x.push_back(f.count);
    y.push_back(beyond);
  }
  double slope = 0, intercept = 0;
  if (FitLine(x, y, &slope, &intercept)) {
    std::printf("  least-squares line: %.3f us a variable %+.2f ms\n", slope * 1000.0, intercept);
  }
  // Linear growth keeps the cost a variable the same from one count to the next.
  const Figures& mid = all[1];  // 10,000
  const Figures& top = all.back();
  double perMid = (mid.*total - mid.*floor) / mid.count;
  double perTop = (top.*total - top.*floor) / top.count;
  std::printf("  cost a variable at %u / at %u: %.2f (1.00 is linear)\n", top.count, mid.count,
              perMid > 0 ? perTop / perMid : 0.0);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args(argc, argv);
  const int repeat = static_cast<int>(args.Number("--repeat", 15));
  Heading("Discovery: ScanLVARS and SendLVARS, LVAR code linked directly, no transport");
  bridge_log::InitPath();
  if (!bridge_log::Open()) Note("WARNING: no log file; lines are formatted and dropped");
  std::vector<Figures> all;
  for (uint32_t count : {1000u, 10000u, 30000u, 65535u}) all.push_back(Measure(count, repeat));
  bridge_log::Close();
  Note("medians of %d runs; every scan enumerates all 65,535 ids, so the panel cost has a fixed part", repeat);
  Print("rebuild, as on an aircraft change (ScanLVARS keep=false)", all, &Figures::rebuild, &Figures::rebuildPanels);
  Print("periodic rescan, nothing new (ScanLVARS keep=true, notify=true)", all, &Figures::rescan,
        &Figures::rescanPanels);
  Print("SendLVARS: rescan, then the VarDump chunks", all, &Figures::sendList, &Figures::sendListPanels);
  const Figures& tenThousand = all[1];
  Goal("10,000 variables in under 20 ms (rebuild, rescan, SendLVARS)",
       tenThousand.rebuild < 20 && tenThousand.rescan < 20 && tenThousand.sendList < 20);
  return 0;
}
