// The bridge's one source of time, alone in its file: a test program that links
// the bridge's code directly may define its own CurrentTick instead, and the
// linker then leaves this one out.
#include <winsock2.h>
#include <windows.h>

#include "lvar/bridge_services.h"

uint32_t CurrentTick() { return GetTickCount(); }
