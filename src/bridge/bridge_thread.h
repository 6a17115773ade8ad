// The worker thread: it owns the SimConnect connection and runs every
// operation of the bridge after start-up.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace bridge {

// The thread function; `parameter` is null and not read. Creates the Stop,
// Process and End events, opens the connection into the connection holder,
// runs SetupConnection and the wait loop, and tears down. Returns 1 at once
// when SimConnect_Open failed (End is then never set and the holder stays for
// DLLStop), 0 after a normal end. The thread ends by dropping the module
// reference that DLLStart took for it (FreeLibraryAndExitThread).
DWORD WINAPI BridgeThread(LPVOID parameter);

}  // namespace bridge
