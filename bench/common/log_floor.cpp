#include "log_floor.h"

#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "clock.h"

namespace bench {

namespace {

void Timestamp(char (&stamp)[64]) {
  __time64_t now = _time64(nullptr);
  struct tm local = {};
  _localtime64_s(&local, &now);
  std::strftime(stamp, sizeof stamp, "%d:%m:%Y %H:%M:%S", &local);
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
  start = NowUs();
  for (size_t i = 0; i < lines; ++i) {
    char message[1024];
    std::snprintf(message, sizeof message, "%s (%d) = %f", "BENCH_HYD_SYS_A_PRESSURE_00001", static_cast<int>(i),
                  1234.5 + static_cast<double>(i));
    Timestamp(stamp);
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
