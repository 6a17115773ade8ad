#include "log_capture.h"

#include "wait_until.h"

simhost::HostLog::LineSink LogCapture::Sink() {
  return [this](const std::string& line) {
    std::lock_guard<SlimLock> guard(lock_);
    lines_.push_back(line);
  };
}

std::vector<std::string> LogCapture::Lines() {
  std::lock_guard<SlimLock> guard(lock_);
  return lines_;
}

int LogCapture::IndexOf(const std::string& part) {
  std::lock_guard<SlimLock> guard(lock_);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].find(part) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

bool LogCapture::WaitForLine(const std::string& part, DWORD timeoutMs) {
  return WaitUntil([&] { return IndexOf(part) >= 0; }, timeoutMs);
}
