#include "module_log.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>

#include "wait_until.h"

namespace module_log {
namespace {

constexpr size_t kStampLength = 20;  // "dd:mm:yyyy hh:mm:ss "

// The file's complete lines; `complete` is false when the last line has no CR LF yet.
Lines RawLines(const std::string& text, bool* complete) {
  Lines lines;
  size_t start = 0;
  size_t end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  *complete = start == text.size();
  return lines;
}

std::string ExecutablePath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

void ExpectNoException(const Lines& lines) {
  for (const std::string& line : lines) EXPECT_EQ(line.find("Excpetion"), std::string::npos) << line;
}

}  // namespace

std::string Path() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder))) return std::string();
  return std::string(folder) + "\\TAVO.quin\\logs\\TVOBridge.log";
}

std::string Bytes() {
  std::string text;
  FILE* file = std::fopen(Path().c_str(), "rb");
  if (file == nullptr) return text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  return text;
}

Lines Messages(std::time_t notBefore) {
  static const std::regex stamp(R"(^(\d\d):(\d\d):(\d{4}) (\d\d):(\d\d):(\d\d) )");
  bool complete = true;
  const Lines raw = RawLines(Bytes(), &complete);
  EXPECT_TRUE(complete) << "the log ends in a line without CR LF";
  const std::time_t latest = std::time(nullptr) + 2;
  Lines messages;
  bool previousEndedInNewline = false;
  for (const std::string& line : raw) {
    std::smatch m;
    if (!std::regex_search(line, m, stamp)) {
      EXPECT_TRUE(previousEndedInNewline && line.empty()) << "log line without a timestamp: " << line;
      messages.push_back(line);
      previousEndedInNewline = false;
      continue;
    }
    std::tm local = {};
    local.tm_mday = std::stoi(m[1]);
    local.tm_mon = std::stoi(m[2]) - 1;
    local.tm_year = std::stoi(m[3]) - 1900;
    local.tm_hour = std::stoi(m[4]);
    local.tm_min = std::stoi(m[5]);
    local.tm_sec = std::stoi(m[6]);
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    EXPECT_TRUE(local.tm_hour <= 23 && when >= notBefore - 2 && when <= latest)
        << "timestamp not of this run's local time: " << line;
    messages.push_back(line.substr(kStampLength));
    previousEndedInNewline = messages.back().compare(0, 12, "Wait error: ") == 0;
  }
  return messages;
}

Lines SoFar() {
  bool complete = true;
  Lines lines = RawLines(Bytes(), &complete);
  for (std::string& line : lines) line = line.size() >= kStampLength ? line.substr(kStampLength) : std::string();
  return lines;
}

bool WaitFor(const std::string& message, size_t count, DWORD timeoutMs) {
  return WaitUntil([&] { return CountOf(SoFar(), message) >= count; }, timeoutMs);
}

std::string Succeeded(const std::string& label, int sendId) {
  return "SimConnect: " + label + " ==> SUCCESS (SendID = " + std::to_string(sendId) + ")";
}

int IndexOf(const Lines& lines, const std::string& message, size_t from) {
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i] == message) return static_cast<int>(i);
  }
  return -1;
}

size_t CountOf(const Lines& lines, const std::string& message) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), message));
}

size_t CountStartingWith(const Lines& lines, const std::string& prefix) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.compare(0, prefix.size(), prefix) == 0;
  }));
}

size_t PublishedByUpdate(const Lines& lines) {
  const std::string prefix = "LVARHandler::Update::";
  size_t sum = 0;
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) sum += std::strtoul(line.c_str() + prefix.size(), nullptr, 10);
  }
  return sum;
}

Lines Slice(const Lines& lines, size_t from, size_t to) {
  from = std::min(from, lines.size());
  to = std::min(std::max(to, from), lines.size());
  return Lines(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.begin() + static_cast<std::ptrdiff_t>(to));
}

std::string Joined(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

Lines SetupHead() {
  Lines head = {"DLLSTART 1.0.0.21", "Called from " + ExecutablePath(), Succeeded("SimConnect_Open", 1),
                "SimConnect: OpenEvent"};
  int sendId = 2;
  for (const char* label : {"SimConnect_MenuAddItem(TAVO.quin)", "SimConnect_MenuAddSubItem(About)",
                            "SimConnect_MenuAddSubItem(Disable LVAR Access)", "SimConnect_AddToDataDefinition(TITLE)",
                            "SimConnect_RequestDataOnSimObject", "SimConnect_RequestDataOnSimObject"}) {
    head.push_back(Succeeded(label, sendId++));
  }
  head.push_back("LVARHandler::Startup");
  const char* const areas[] = {"VARDATA", "VARDUMP", "HOSTRESQUEST", "HOSTEVENT"};
  for (const char* area : areas) {
    head.push_back(Succeeded(std::string("MapClientDataNameToID TAVO_SC_DYN_") + area + "_ID", sendId++));
    head.push_back(Succeeded(std::string("MapClientDataNameToID TAVO_SC_DYN_") + area + "_DATA", sendId++));
  }
  for (const char* area : areas) head.push_back(Succeeded(std::string("CreateClientData TAVO_SC_DYN_") + area + "_ID", sendId++));
  for (const char* area : {"HOSTRESQUEST", "VARDUMP", "VARDATA", "HOSTEVENT"}) {
    head.push_back(Succeeded(std::string("AddToClientDataDefinition TAVO_SC_DYN_") + area + "_DATA", sendId++));
  }
  head.push_back(Succeeded("RequestClientData TAVO_SC_DYN_HOSTRESQUEST_ID", sendId));
  return head;
}

void ExpectSetupHead(const Lines& lines) {
  const Lines head = SetupHead();
  EXPECT_EQ(Joined(Slice(lines, 0, head.size())), Joined(head));
}

void ExpectEndedByStop(const Lines& all) {
  // DLLStop logs "DLLSTOP" before it raises the stop: a pass in progress then
  // still reports the reads it has made, and those lines alone may come
  // between "DLLSTOP" and the worker's close.
  static const std::regex report(R"(^\S+ \(-?\d+\) = -?\d+\.\d{6}$)");
  Lines lines = all;
  const auto stop = std::find(lines.rbegin(), lines.rend(), "DLLSTOP").base();
  auto isReport = [](const std::string& line) { return std::regex_match(line, report); };
  lines.erase(std::remove_if(stop, lines.end(), isReport), lines.end());
  EXPECT_EQ(Joined(Slice(lines, lines.size() < 3 ? 0 : lines.size() - 3, lines.size())),
            Joined({"DLLSTOP", "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)", "DLLSTOP DONE"}));
  EXPECT_EQ(IndexOf(lines, "Received QUIT Signal!"), -1);
  EXPECT_EQ(CountOf(lines, "DLLSTART 1.0.0.21"), 1u);
  ExpectNoException(lines);
}

void ExpectEndedByQuit(const Lines& lines) {
  EXPECT_EQ(Joined(Slice(lines, lines.size() < 4 ? 0 : lines.size() - 4, lines.size())),
            Joined({"Received QUIT Signal!", "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)", "DLLSTOP",
                    "DLLSTOP DONE"}));
  EXPECT_EQ(CountOf(lines, "Received QUIT Signal!"), 1u);
  ExpectNoException(lines);
}

}  // namespace module_log
