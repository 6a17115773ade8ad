// Reading SimConnect.cfg and the simulator's registry ports into
// ConnectionSettings.
#include "simconnect/transport/config.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "simconnect/endpoints.h"
#include "simconnect/owners.h"

namespace {

constexpr wchar_t kConfigFileName[] = L"SimConnect.cfg";
constexpr DWORD kValueBufferUnits = 2048;      // one key's value
constexpr DWORD kSectionProbeUnits = 30;       // enough to see that a section has an entry
constexpr DWORD kRegistryPortBytes = 20;       // ten UTF-16 units, terminator included

// The known folders, spelled out so that no GUID library is needed at link time.
// FOLDERID_PublicDocuments
constexpr KNOWNFOLDERID kPublicDocumentsFolder = {
    0xED4824AF, 0xDCE4, 0x45A8, {0x81, 0xE2, 0xFC, 0x79, 0x65, 0x08, 0x36, 0x34}};
// FOLDERID_Documents
constexpr KNOWNFOLDERID kDocumentsFolder = {
    0xFDD39AD0, 0x238F, 0x46AF, {0xAD, 0xB4, 0x6C, 0x85, 0x48, 0x03, 0x69, 0xC7}};

// Copies at most kConfigTextUnits - 1 units of `source` and always terminates.
void CopyBounded(wchar_t (&target)[kConfigTextUnits], const wchar_t* source) {
  size_t i = 0;
  for (; i < kConfigTextUnits - 1 && source[i] != L'\0'; ++i) target[i] = source[i];
  target[i] = L'\0';
}

// "SimConnect" for index 0, "SimConnect.<index in decimal>" otherwise.
void SectionName(uint32_t index, wchar_t (&name)[32]) {
  if (index == 0) {
    std::swprintf(name, 32, L"SimConnect");
  } else {
    std::swprintf(name, 32, L"SimConnect.%u", static_cast<unsigned>(index));
  }
}

// Reads one key with an empty default; true when the value is not empty.
bool ReadKey(const wchar_t* path, const wchar_t* section, const wchar_t* key,
             wchar_t (&value)[kValueBufferUnits]) {
  value[0] = L'\0';
  GetPrivateProfileStringW(section, key, L"", value, kValueBufferUnits, path);
  return value[0] != L'\0';
}

// Public Documents or Documents joined with the file name; empty on any failure.
void KnownFolderFile(const KNOWNFOLDERID& folderId, wchar_t (&path)[MAX_PATH]) {
  path[0] = L'\0';
  PWSTR folder = nullptr;
  HRESULT hr = SHGetKnownFolderPath(folderId, 0, nullptr, &folder);
  if (SUCCEEDED(hr) && folder != nullptr) {
    if (PathCombineW(path, folder, kConfigFileName) == nullptr) path[0] = L'\0';
  }
  // The folder text is ours to free whether or not the call succeeded.
  CoTaskMemFree(folder);
}

}  // namespace

void ConfigFilePaths(wchar_t (&paths)[3][260]) {
  KnownFolderFile(kPublicDocumentsFolder, paths[0]);
  KnownFolderFile(kDocumentsFolder, paths[1]);

  paths[2][0] = L'\0';
  wchar_t current[MAX_PATH];
  DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
  // 0 is a failure; a length of MAX_PATH or more is the size a longer folder
  // would need, and that folder does not fit.
  if (length != 0 && length < MAX_PATH) {
    if (PathCombineW(paths[2], current, kConfigFileName) == nullptr) paths[2][0] = L'\0';
  }
}

uint32_t ConfigSectionExists(const wchar_t* path, uint32_t index) {
  wchar_t section[32];
  SectionName(index, section);
  wchar_t probe[kSectionProbeUnits];
  // The section data is a list of "key=value" texts; a section that exists but
  // holds no entry gives 0 characters, as does a missing section or file.
  DWORD count = GetPrivateProfileSectionW(section, probe, kSectionProbeUnits, path);
  return count > 0 ? 0 : 3;
}

void ReadConfigSection(const wchar_t* path, uint32_t index, ConnectionSettings& settings) {
  wchar_t section[32];
  SectionName(index, section);
  wchar_t value[kValueBufferUnits];

  if (ReadKey(path, section, L"Protocol", value)) {
    if (lstrcmpiW(value, L"Auto") == 0 || lstrcmpiW(value, L"Pipe") == 0) {
      settings.protocol = 1;
    } else if (lstrcmpiW(value, L"IPv4") == 0 || lstrcmpiW(value, L"IPv6") == 0) {
      bool ipv6 = lstrcmpiW(value, L"IPv6") == 0;
      settings.protocol = ipv6 ? 23 : 2;
      // A port held at this point came from an earlier file and was meant for
      // whatever protocol that file chose; switching to TCP swaps it for the
      // simulator's registered port of this family (empty when none is
      // registered). Without a held port nothing is looked up, so a TCP
      // protocol without any Port makes no TCP attempt. A Port key in this
      // same file is read next and wins over the registry value.
      if (settings.port[0] != L'\0') ReadRegistryPort(ipv6, settings.port);
    }
    // Any other text leaves the protocol as it was.
  }
  if (ReadKey(path, section, L"Address", value)) CopyBounded(settings.address, value);
  if (ReadKey(path, section, L"Port", value)) CopyBounded(settings.port, value);
  if (ReadKey(path, section, L"MaxReceiveSize", value)) {
    // Compared unsigned: the limit is only ever raised. Text that is not a
    // number reads as 0 and so changes nothing; a negative number wraps to a
    // very large limit and is taken.
    uint32_t size = static_cast<uint32_t>(_wtoi(value));
    if (size > settings.maxReceiveSize) settings.maxReceiveSize = size;
  }
  if (ReadKey(path, section, L"DisableNagle", value)) settings.disableNagle = _wtoi(value) != 0;
}

void ReadRegistryPort(bool ipv6, wchar_t (&port)[kConfigTextUnits]) {
  port[0] = L'\0';
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, endpoints::kPortsRegistryKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
    return;
  }

  const wchar_t* name = ipv6 ? endpoints::kPortValueIPv6 : endpoints::kPortValueIPv4;
  DWORD size = kRegistryPortBytes;
  // The value's type is not checked: whatever bytes it holds are taken as text.
  LONG result = RegQueryValueExW(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(port), &size);
  if (result != ERROR_SUCCESS) {
    // Missing, or longer than 20 bytes: the buffer's contents are undefined then.
    port[0] = L'\0';
    return;
  }
  // A value stored without its terminator (or not stored as text at all) is
  // cut where its bytes end.
  port[size / sizeof(wchar_t)] = L'\0';
}
