// Starting Winsock once per process and stopping it when the last transport
// is gone.
#include <winsock2.h>
#include <windows.h>

#include <atomic>

#include "simconnect/transport/transport.h"

namespace {

// Set while Winsock is started by this library (one WSAStartup outstanding).
std::atomic<bool> g_winsockStarted{false};

constexpr DWORD kIdlePauseMs = 250;
constexpr int kIdlePauses = 20;

}  // namespace

bool StartWinsock() {
  if (g_winsockStarted.load(std::memory_order_acquire)) return true;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return g_winsockStarted.load(std::memory_order_acquire);
  // Two threads may start it at the same time: only one start is kept, so
  // that one cleanup balances it.
  bool expected = false;
  if (!g_winsockStarted.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) WSACleanup();
  return true;
}

void StopWinsockWhenIdle() {
  // Transports still held by an outstanding operation get time for their late
  // completions; after the last pause the cleanup goes ahead all the same.
  for (int pause = 0; pause < kIdlePauses && LiveTransportCount() != 0; ++pause) Sleep(kIdlePauseMs);
  if (g_winsockStarted.exchange(false, std::memory_order_acq_rel)) WSACleanup();
}
