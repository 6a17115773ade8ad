// Where the build's programs lie, as Windows programs under Wine see them.
#pragma once

#include <string>

// A path of the build (a unix path) as a Windows path on drive Z:, where Wine
// maps the unix root.
std::wstring WindowsPath(const std::string& unixPath);
