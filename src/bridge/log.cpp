// The log file and LogMessage (see bridge_log.h).
//
// The stream is written from the simulator's thread (DLLStart, DLLStop) and
// the worker. Each line goes out in one fwrite, which the C runtime performs
// under the stream's own lock, so lines never interleave. streamLock only keeps
// the stream alive while a line is written: writers share it, and Close takes
// it alone, so a worker that is still logging after DLLStop ran never writes
// to a closed stream.
#include "bridge/bridge_log.h"

#include <winsock2.h>
#include <windows.h>
#include <share.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <shared_mutex>

#include "simconnect/slim_lock.h"
#include "lvar/bridge_services.h"

namespace bridge_log {
namespace {

// CSIDL_APPDATA with CSIDL_FLAG_CREATE: the roaming application-data folder,
// created if it does not exist.
constexpr int kRoamingAppDataCreate = 0x801A;
constexpr size_t kTimeBufferSize = 256;

char logPath[kPathSize];     // written at process attach only
char folderPath[kPathSize];  // the application-data folder, then the log folder

SlimLock streamLock;
std::atomic<FILE*> logStream{nullptr};  // replaced under streamLock (exclusive)

// FILETIME counts 100 ns steps from 1601; the C runtime's time from 1970.
constexpr uint64_t kFileTimeTicksPerSecond = 10000000;
constexpr uint64_t kUnixEpochInFileTime = 116444736000000000;

// The timestamp text of the latest second a line was written in. Under Wine
// _time64 and the local-time conversion cost several microseconds a line, most
// of a line's cost; the text only changes with the second. Each line reads the
// system clock once, and the text is formatted afresh (local time, time zone
// and all) whenever the second differs from the cached one.
struct TimestampCache {
  SlimLock lock;
  __time64_t second = -1;             // guarded by lock
  char text[kTimeBufferSize] = {};    // guarded by lock
};
TimestampCache timestampCache;

// Copies the local time of now, formatted, into `out`. Conversion errors are
// not reported: the text is then what strftime made of a zeroed time.
void CurrentTimestamp(char (&out)[kTimeBufferSize]) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const auto second = static_cast<__time64_t>((ticks - kUnixEpochInFileTime) / kFileTimeTicksPerSecond);
  std::lock_guard<SlimLock> guard(timestampCache.lock);
  if (second != timestampCache.second) {
    struct tm local = {};
    _localtime64_s(&local, &second);
    timestampCache.text[0] = '\0';
    std::strftime(timestampCache.text, sizeof timestampCache.text, kTimeFormat, &local);
    timestampCache.second = second;
  }
  std::memcpy(out, timestampCache.text, sizeof out);
}

}  // namespace

void InitPath() {
  folderPath[0] = '\0';
  if (FAILED(SHGetFolderPathA(nullptr, kRoamingAppDataCreate, nullptr, 0, folderPath))) return;
  strcpy_s(logPath, kPathSize, folderPath);
  // Results of the appends and of the folder creation do not matter: a folder
  // that exists already is fine, and a path that cannot be opened only means
  // that nothing is logged.
  PathAppendA(logPath, kSubPath);
  PathAppendA(folderPath, kFolderSubPath);
  SHCreateDirectoryExA(nullptr, folderPath, nullptr);
}

const char* Path() { return logPath; }

bool IsOpen() { return logStream.load(std::memory_order_acquire) != nullptr; }

bool Open() {
  if (logPath[0] == '\0') return false;
  std::lock_guard<SlimLock> lock(streamLock);
  if (logStream.load(std::memory_order_relaxed) != nullptr) return true;
  // Text mode, created or truncated; other processes may read but not write.
  FILE* stream = _fsopen(logPath, "w", _SH_DENYWR);
  logStream.store(stream, std::memory_order_release);
  return stream != nullptr;
}

void Flush() {
  if (!IsOpen()) return;
  std::shared_lock<SlimLock> lock(streamLock);
  if (FILE* stream = logStream.load(std::memory_order_acquire)) std::fflush(stream);
}

void Close() {
  // Checked first without the lock: at process detach, after the simulator's
  // own DLLStop, there is nothing left to close and no lock is taken.
  if (!IsOpen()) return;
  std::lock_guard<SlimLock> lock(streamLock);
  FILE* stream = logStream.exchange(nullptr, std::memory_order_acq_rel);
  if (stream != nullptr) {
    std::fflush(stream);
    std::fclose(stream);
  }
}

}  // namespace bridge_log

void LogMessage(const char* format, ...) {
  using namespace bridge_log;
  // The message is formatted whether or not a log is open. A longer message is
  // cut to kMaxMessageLength characters; the last byte is always a NUL (the C
  // runtime's own vsnprintf leaves none when it cuts).
  char message[kMaxMessageLength + 1];
  message[0] = '\0';
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  message[kMaxMessageLength] = '\0';

  if (!IsOpen()) return;
  std::shared_lock<SlimLock> lock(streamLock);
  FILE* stream = logStream.load(std::memory_order_acquire);
  if (stream == nullptr) return;

  char timeText[kTimeBufferSize];
  CurrentTimestamp(timeText);

  // "%s %s\n", written in one call.
  char line[kTimeBufferSize + 1 + sizeof message + 1];
  int length = std::snprintf(line, sizeof line, "%s %s\n", timeText, message);
  if (length > 0) {
    std::fwrite(line, 1, static_cast<size_t>(length) < sizeof line ? static_cast<size_t>(length) : sizeof line - 1,
                stream);
  }
  std::fflush(stream);
}
