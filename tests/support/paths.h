// Names of things on disk and in the pipe namespace, as tests spell them.
#pragma once

#include <string>

// The simulator's default pipe, which SimConnect clients try when nothing
// else is configured.
constexpr wchar_t kSimulatorPipePath[] = L"\\\\.\\pipe\\Lockheed Martin Prepar3D v6\\SimConnect";

// A build path of the host (/a/b/c.dll) as Wine shows it to Windows programs:
// on drive Z:, with backslashes (Z:\a\b\c.dll).
std::wstring WindowsPath(const std::string& buildPath);

// A pipe path no other test program uses: \\.\pipe\tvo-test-<pid>-<tag>-<n>.
std::wstring UniquePipePath(const char* tag);
// The name part below \\.\pipe\ of a pipe path (what SimConnect.cfg's Port holds).
std::wstring PipeNameOf(const std::wstring& path);
