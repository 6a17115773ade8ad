#include "log_floor.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "clock.h"

namespace bench {

namespace {

void FormatLocalTime(__time64_t second, char (&stamp)[64]) {
  struct tm local = {};
  _localtime64_s(&local, &second);
  std::strftime(stamp, sizeof stamp, "%d:%m:%Y %H:%M:%S", &local);
}

void Timestamp(char (&stamp)[64]) { FormatLocalTime(_time64(nullptr), stamp); }

// One reading of the system clock; the text is formatted again only when the
// second has changed since `*cachedSecond`.
void CachedTimestamp(__time64_t* cachedSecond, char (&stamp)[64]) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const auto second = static_cast<__time64_t>((ticks - 116444736000000000ULL) / 10000000);
  if (second != *cachedSecond) {
    FormatLocalTime(second, stamp);
    *cachedSecond = second;
  }
}

}  // namespace

LogLineCost MeasureLogLine(size_t lines) {
  LogLineCost cost;
  if (lines == 0) return cost;
  char stamp[64];
  double start = NowUs();
  for (size_t i = 0; i < lines; ++i) Timestamp(stamp);
  cost.timestampUs = (NowUs() - start) / static_cast<double>(lines);

  char folder[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, folder);
  if (n == 0 || n >= MAX_PATH) return cost;
  const std::string path = std::string(folder) + "tvo_bench_log_floor.log";
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return cost;
  __time64_t cachedSecond = -1;
  start = NowUs();
  for (size_t i = 0; i < lines; ++i) {
    char message[1024];
    std::snprintf(message, sizeof message, "%s (%d) = %f", "BENCH_HYD_SYS_A_PRESSURE_00001", static_cast<int>(i),
                  1234.5 + static_cast<double>(i));
    CachedTimestamp(&cachedSecond, stamp);
    char line[1200];
    int length = std::snprintf(line, sizeof line, "%s %s\n", stamp, message);
    std::fwrite(line, 1, static_cast<size_t>(length), file);
    std::fflush(file);
  }
  cost.lineUs = (NowUs() - start) / static_cast<double>(lines);
  std::fclose(file);
  DeleteFileA(path.c_str());
  return cost;
}

}  // namespace bench
