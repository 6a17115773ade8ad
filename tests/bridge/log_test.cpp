// The module's log file and CheckResult, linked directly: the lines as the
// file holds them, truncation at each open, the 1023-character cut, sharing,
// the timestamp of each line's second, and CheckResult's lines.
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "bridge/bridge_log.h"
#include "linked_bridge.h"
#include "lvar/bridge_services.h"
#include "module_log.h"

namespace {

using namespace linked_bridge;

bool OthersMayWrite() {
  const HANDLE file = CreateFileA(bridge_log::Path(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}

TEST(LogTest, OneLinePerCallInAFileOthersMayReadButNotWriteTruncatedAtEachOpen) {
  const std::time_t start = std::time(nullptr);
  StartLog();
  EXPECT_EQ(bridge_log::Path(), module_log::Path());
  LogMessage("DLLSTART %s", "1.0.0.21");
  LogMessage("Wait error: %d\n", 6);  // its own newline leaves an empty line
  LogMessage("%s", std::string(1100, 'x').c_str());
  EXPECT_EQ(module_log::Messages(start), (Lines{"DLLSTART 1.0.0.21", "Wait error: 6", "", std::string(1023, 'x')}));
  EXPECT_FALSE(OthersMayWrite());

  StartLog();
  LogMessage("second run");
  bridge_log::Close();
  LogMessage("after close");
  EXPECT_EQ(module_log::Messages(start), Lines{"second run"});
  EXPECT_TRUE(OthersMayWrite());
}

// The local time now, as the log writes it.
std::string Stamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%04u %02u:%02u:%02u", t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

TEST(LogTest, EachLineCarriesTheLocalTimeOfItsOwnSecond) {
  StartLog();
  // Lines for more than a second, each with the local time read just before
  // and just after it was written.
  std::vector<std::pair<std::string, std::string>> readings;
  for (const DWORD begin = GetTickCount(); GetTickCount() - begin < 1200; Sleep(5)) {
    std::string before = Stamp();
    LogMessage("stamp");
    readings.emplace_back(before, Stamp());
  }
  const std::string raw = module_log::Bytes();
  ASSERT_EQ(raw.size(), readings.size() * 27);  // "dd:mm:yyyy hh:mm:ss stamp\r\n"
  for (size_t i = 0; i < readings.size(); ++i) {
    const std::string stamp = raw.substr(i * 27, 19);
    EXPECT_TRUE(stamp == readings[i].first || stamp == readings[i].second) << stamp << " read " << readings[i].first;
  }
  EXPECT_NE(readings.front().first, readings.back().second) << "the run spans a change of second";
}

TEST(LogTest, CheckResultTakesEveryNonzeroResultForAFailure) {
  StartLog();
  EXPECT_TRUE(CheckResult("SimConnect_MenuAddItem(TAVO.quin)", S_OK));
  EXPECT_FALSE(CheckResult("SimConnect_Open", E_FAIL));
  EXPECT_FALSE(CheckResult("SimConnect_Text", 1));  // any nonzero result fails
  EXPECT_EQ(NewLines(true), (Lines{"SimConnect: SimConnect_MenuAddItem(TAVO.quin) ==> SUCCESS (SendID = -1)",
                                   "SimConnect: SimConnect_Open (80004005) (SendID = -1) ==> FAILED",
                                   "gnDisplay -2147467259",
                                   "SimConnect: SimConnect_Text (00000001) (SendID = -1) ==> FAILED", "gnDisplay 1"}));
  bridge_log::Close();
}

}  // namespace
