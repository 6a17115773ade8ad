// The module's version resource, read the way Windows reads it (its exports and
// imports: check_dll_image.cmake).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/paths.h"

namespace {

std::wstring StringValue(const std::vector<uint8_t>& info, const wchar_t* name) {
  struct Translation {
    WORD language;
    WORD codePage;
  }* translations = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof(Translation)) {
    return {};
  }
  wchar_t query[128];
  swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language, translations[0].codePage, name);
  wchar_t* value = nullptr;
  if (!VerQueryValueW(info.data(), query, reinterpret_cast<void**>(&value), &length) || length == 0) return {};
  return value;
}

TEST(DllImage, VersionResourceSaysWhatTheModuleIs) {
  std::wstring path = WindowsPath(TVO_DLL_PATH);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version resource";
  std::vector<uint8_t> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(21, 0));
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(21, 0));
  EXPECT_EQ(StringValue(info, L"FileDescription"), L"TAVO.quin Simulator Bridge");
  EXPECT_EQ(StringValue(info, L"FileVersion"), L"1.0.0.21");
  EXPECT_EQ(StringValue(info, L"ProductVersion"), L"1.0.0.21");
}

}  // namespace
