// The owners of the Win32 objects the server keeps (simconnect/owners.h), and
// the events it makes.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "simconnect/owners.h"

namespace simhost {

// A manual-reset or auto-reset unnamed event.
inline UniqueHandle MakeEvent(bool manualReset) {
  return UniqueHandle(CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
}

}  // namespace simhost
