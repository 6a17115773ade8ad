// The log file and CheckResult, linked directly: the exact lines in the file,
// truncation at each start, the 1023-character cut and the SendIDs.
#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>

#include <string>
#include <vector>

#include "bridge/bridge_log.h"
#include "bridge/module_state.h"
#include "bridge_test_env.h"
#include "lvar/bridge_services.h"
#include "simconnect/SimConnect.h"
#include "simconnect/wire.h"

namespace {

using Lines = std::vector<std::string>;

TEST(LogTest, PathLiesInTheRoamingApplicationDataFolderWhichIsCreated) {
  bridge_log::InitPath();
  char appData[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathA(nullptr, 0x001A, nullptr, 0, appData), S_OK);
  EXPECT_EQ(std::string(bridge_log::Path()), std::string(appData) + "\\TAVO.quin\\logs\\TVOBridge.log");
  DWORD attributes = GetFileAttributesA((std::string(appData) + "\\TAVO.quin\\logs").c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(LogTest, OneTimestampedCrLfLinePerCallTruncatedAtEachOpen) {
  bridge_test::StartLog();
  LogMessage("DLLSTART %s", "1.0.0.21");
  LogMessage("%d Changes %d added %d deleted (Total Vars %d)", 3, 2, 1, 7);
  // A format with its own newline leaves an empty line after it.
  LogMessage("Wait error: %d\n", 6);
  LogMessage("after");
  EXPECT_EQ(bridge_test::LogMessages(),
            (Lines{"DLLSTART 1.0.0.21", "3 Changes 2 added 1 deleted (Total Vars 7)", "Wait error: 6", "", "after"}));
  std::string raw = bridge_test::RawLog();
  EXPECT_NE(raw.find("Wait error: 6\r\n\r\n"), std::string::npos);
  // Each line is on disk when the call returns, and other processes may read
  // it but not write it while it is open.
  HANDLE writer = CreateFileA(bridge_log::Path(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);

  bridge_test::StartLog();
  LogMessage("second run");
  EXPECT_EQ(bridge_test::LogMessages(), (Lines{"second run"}));
  bridge_test::StopLog();
  LogMessage("after close");
  EXPECT_EQ(bridge_test::LogMessages(), (Lines{"second run"}));
}

std::string Stamp(const SYSTEMTIME& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%04u %02u:%02u:%02u", t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

TEST(LogTest, EachLineCarriesTheLocalTimeDayFirstAcrossChangesOfSecond) {
  bridge_test::StartLog();
  // Lines for more than a second, each stamped with the local time read just
  // before or just after it was written.
  std::vector<std::pair<std::string, std::string>> readings;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 1200) {
    SYSTEMTIME before;
    SYSTEMTIME after;
    GetLocalTime(&before);
    LogMessage("stamp");
    GetLocalTime(&after);
    readings.emplace_back(Stamp(before), Stamp(after));
    Sleep(5);
  }
  std::string raw = bridge_test::RawLog();
  size_t at = 0;
  for (const auto& reading : readings) {
    ASSERT_LE(at + 19, raw.size());
    const std::string stamp = raw.substr(at, 19);
    EXPECT_TRUE(stamp == reading.first || stamp == reading.second) << stamp << " read " << reading.first;
    at = raw.find("\r\n", at) + 2;
  }
  EXPECT_NE(readings.front().first, readings.back().second) << "the run spans a change of second";
  bridge_test::StopLog();
}

TEST(LogTest, LongMessagesAreCutAt1023Characters) {
  bridge_test::StartLog();
  std::string name(2000, 'n');
  LogMessage("SendKeys %s", name.c_str());
  LogMessage("%s", std::string(1023, 'x').c_str());
  Lines lines = bridge_test::LogMessages();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "SendKeys " + std::string(1023 - 9, 'n'));
  EXPECT_EQ(lines[1], std::string(1023, 'x'));
  bridge_test::StopLog();
}

TEST(LogTest, CheckResultWithoutConnectionReportsSendIdMinusOne) {
  bridge_test::StartLog();
  EXPECT_TRUE(CheckResult("SimConnect_MenuAddItem(TAVO.quin)", S_OK));
  EXPECT_FALSE(CheckResult("SimConnect_Open", E_FAIL));
  // Any nonzero result is a failure, a positive one too.
  EXPECT_FALSE(CheckResult("SimConnect_Text", 1));
  EXPECT_EQ(bridge_test::LogMessages(), (Lines{
                                            "SimConnect: SimConnect_MenuAddItem(TAVO.quin) ==> SUCCESS (SendID = -1)",
                                            "SimConnect: SimConnect_Open (80004005) (SendID = -1) ==> FAILED",
                                            "gnDisplay -2147467259",
                                            "SimConnect: SimConnect_Text (00000001) (SendID = -1) ==> FAILED",
                                            "gnDisplay 1",
                                        }));
  bridge_test::StopLog();
}

TEST(LogTest, CheckResultReportsTheSendIdOfTheRequestJustSent) {
  bridge_test::HeldConnection connection;
  ASSERT_TRUE(connection.ok());
  bridge_test::StartLog();
  HANDLE handle = connection.handle();
  CheckResult("SimConnect_MenuAddItem(TAVO.quin)", SimConnect_MenuAddItem(handle, "TAVO.quin", 1, 0));
  CheckResult("SimConnect_MenuRemoveSubItem(Enable LVAR Access)", SimConnect_MenuRemoveSubItem(handle, 1, 100));
  // A text that does not fit its field is refused; its SendID stays used.
  CheckResult("SimConnect_MenuAddItem(long)", SimConnect_MenuAddItem(handle, std::string(300, 'm').c_str(), 1, 0));

  std::vector<uint8_t> first = connection.NextRequest();
  std::vector<uint8_t> second = connection.NextRequest();
  ASSERT_EQ(first.size(), 280u);
  ASSERT_EQ(second.size(), 24u);
  uint32_t firstId = wire::LoadU32(first.data() + 12);
  uint32_t secondId = wire::LoadU32(second.data() + 12);
  EXPECT_EQ(secondId, firstId + 1);
  EXPECT_EQ(bridge_test::LogMessages(),
            (Lines{
                "SimConnect: SimConnect_MenuAddItem(TAVO.quin) ==> SUCCESS (SendID = " + std::to_string(firstId) + ")",
                "SimConnect: SimConnect_MenuRemoveSubItem(Enable LVAR Access) ==> SUCCESS (SendID = " +
                    std::to_string(secondId) + ")",
                "SimConnect: SimConnect_MenuAddItem(long) (8007007a) (SendID = " + std::to_string(secondId + 1) +
                    ") ==> FAILED",
                "gnDisplay -2147024774",
            }));
  bridge_test::StopLog();
}

}  // namespace
