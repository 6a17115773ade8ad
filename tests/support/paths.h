// Names of things on disk and in the pipe namespace, as tests spell them (the
// simulator's own pipe: simconnect/endpoints.h).
#pragma once

#include <string>

#include "simconnect/endpoints.h"

// A build path of the host (/a/b/c.dll) as Wine shows it to Windows programs:
// on drive Z:, with backslashes (Z:\a\b\c.dll).
std::wstring WindowsPath(const std::string& buildPath);

// A pipe path no other test program uses: \\.\pipe\tvo-test-<pid>-<tag>-<n>.
std::wstring UniquePipePath(const char* tag);
// The name part below \\.\pipe\ of a pipe path (what SimConnect.cfg's Port holds).
std::wstring PipeNameOf(const std::wstring& path);
