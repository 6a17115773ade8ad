// Forwarding header: the pieces that were here now live in paths.h,
// wait_until.h, bytes.h (MakeReceived) and library_link.h; StartChild stays until the
// child-process runner replaces it. Include those headers instead.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "support/library_link.h"
#include "support/paths.h"
#include "support/wait_until.h"

// Starts `program` (a Windows path) with `arguments`, and `input`, `output`
// and `error` (inheritable handles; null for none) as its standard handles.
// The child inherits every inheritable handle of this process. The process
// handle, or null when it did not start.
HANDLE StartChild(const std::wstring& program, const std::wstring& arguments, HANDLE input, HANDLE output,
                  HANDLE error);
