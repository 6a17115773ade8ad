// The wall clock, Ctrl+C and console drawing.
#include "console.h"

#include <atomic>
#include <cstdio>

namespace bridgectl {

namespace {

// The event of the live StopSignal, for the control handler (which runs on a
// thread of its own).
std::atomic<HANDLE> stopEvent{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (HANDLE event = stopEvent.load()) {
        SetEvent(event);
        return TRUE;  // handled: the main thread stops monitoring and exits
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void WriteLine(FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

ClockTime Now() {
  SYSTEMTIME local;
  GetLocalTime(&local);
  ClockTime time;
  time.year = local.wYear;
  time.month = local.wMonth;
  time.day = local.wDay;
  time.hour = local.wHour;
  time.minute = local.wMinute;
  time.second = local.wSecond;
  time.millisecond = local.wMilliseconds;
  return time;
}

void PrintLine(const std::string& text) { WriteLine(stdout, text); }
void PrintErrorLine(const std::string& text) { WriteLine(stderr, text); }

StopSignal::StopSignal() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  stopEvent.store(event_.Get());
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopSignal::~StopSignal() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  stopEvent.store(nullptr);
}

bool StandardOutputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool ConsoleArea::Start(size_t lineCount) {
  output_ = GetStdHandle(STD_OUTPUT_HANDLE);
  std::fflush(stdout);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!StandardOutputIsConsole() || !GetConsoleScreenBufferInfo(output_, &info)) return false;
  width_ = info.dwSize.X > 1 ? info.dwSize.X : 80;
  lineCount_ = lineCount;
  // Newlines scroll the buffer when the cursor is near its end, so the area's
  // first line is found from where the cursor ends up.
  std::string blank(lineCount, '\n');
  DWORD written = 0;
  WriteConsoleA(output_, blank.data(), static_cast<DWORD>(blank.size()), &written, nullptr);
  if (!GetConsoleScreenBufferInfo(output_, &info)) return false;
  origin_.X = 0;
  origin_.Y = static_cast<SHORT>(info.dwCursorPosition.Y - static_cast<SHORT>(lineCount));
  if (origin_.Y < 0) origin_.Y = 0;
  return true;
}

void ConsoleArea::Draw(const std::vector<std::string>& lines) {
  SetConsoleCursorPosition(output_, origin_);
  std::string text;
  for (size_t i = 0; i < lines.size() && i < lineCount_; ++i) {
    // One character short of the width, so that no line wraps.
    std::string line = lines[i].substr(0, static_cast<size_t>(width_ - 1));
    text += line + "\n";
  }
  DWORD written = 0;
  WriteConsoleA(output_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace bridgectl
