// Reading SimConnect.cfg files and the registry ports: the three folders, every
// key rule, the section check and the registry reads, against real files and a
// real registry key of the Wine prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <initializer_list>
#include <string>
#include <utility>

#include "simconnect/transport/config.h"
#include "support/config_env.h"

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(value) : std::wstring();
}

std::wstring CurrentDirectory() {
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  return folder;
}

std::wstring PortAfterRead(bool ipv6, const wchar_t* before) {
  wchar_t port[kConfigTextUnits];
  lstrcpynW(port, before, kConfigTextUnits);
  ReadRegistryPort(ipv6, port);
  return port;
}

}  // namespace

TEST(ConfigFilesTest, LooksInPublicDocumentsThenDocumentsThenTheCurrentDirectory) {
  std::wstring publicFolder = Environment(L"PUBLIC");
  std::wstring profile = Environment(L"USERPROFILE");
  ASSERT_FALSE(publicFolder.empty());
  ASSERT_FALSE(profile.empty());

  wchar_t paths[3][260];
  ConfigFilePaths(paths);
  EXPECT_EQ(0, lstrcmpiW(paths[0], (publicFolder + L"\\Documents\\SimConnect.cfg").c_str())) << paths[0];
  EXPECT_EQ(0, lstrcmpiW(paths[1], (profile + L"\\Documents\\SimConnect.cfg").c_str())) << paths[1];
  EXPECT_EQ(0, lstrcmpiW(paths[2], (CurrentDirectory() + L"\\SimConnect.cfg").c_str())) << paths[2];
}

TEST(ConfigFilesTest, LaterFoldersOverrideEarlierOnesKeyByKeyAndTcpSwapsAHeldPortForTheRegistryPort) {
  wchar_t paths[3][260];
  ConfigFilePaths(paths);
  RegistryPorts registry;
  ASSERT_TRUE(registry.Set(false, L"7004"));
  ASSERT_TRUE(registry.Set(true, L"7006"));

  ScopedFile publicFile(paths[0],
                        "[SimConnect]\r\nProtocol=Pipe\r\nAddress=public-host\r\nPort=7001\r\n"
                        "MaxReceiveSize=50000\r\nDisableNagle=1\r\n"
                        "[SimConnect.5]\r\nPort=7001\r\n"
                        "[SimConnect.6]\r\nPort=7001\r\n");
  ScopedFile documentsFile(paths[1],
                           "[SimConnect]\r\nProtocol=IPv4\r\nAddress=docs-host\r\n"
                           "[SimConnect.5]\r\nProtocol=IPv6\r\nPort=7002\r\n"
                           "[SimConnect.6]\r\nProtocol=IPv6\r\n");
  ScopedFile currentFile(paths[2],
                         "[SimConnect]\r\nMaxReceiveSize=45000\r\n"
                         "[SimConnect.5]\r\nAddress=cwd-host\r\n"
                         "[SimConnect.7]\r\nProtocol=IPv4\r\n");
  ASSERT_TRUE(publicFile.written() && documentsFile.written() && currentFile.written());

  auto readAll = [&](uint32_t index) {
    ConnectionSettings settings;
    for (const auto& path : paths) ReadConfigSection(path, index, settings);
    return settings;
  };

  // The Public Documents port is held when Documents switches to IPv4, so it is
  // swapped for the registry's IPv4 port; the Public Documents limit (50000)
  // beats the current directory's smaller one; Nagle stays from Public Documents.
  ConnectionSettings main = readAll(0);
  EXPECT_EQ(2u, main.protocol);
  EXPECT_STREQ(L"docs-host", main.address);
  EXPECT_STREQ(L"7004", main.port);
  EXPECT_EQ(50000u, main.maxReceiveSize);
  EXPECT_TRUE(main.disableNagle);

  // The Port key of the file that names the protocol is read after it and wins.
  ConnectionSettings withPort = readAll(5);
  EXPECT_EQ(23u, withPort.protocol);
  EXPECT_STREQ(L"7002", withPort.port);
  EXPECT_STREQ(L"cwd-host", withPort.address);
  EXPECT_EQ(41088u, withPort.maxReceiveSize);
  EXPECT_FALSE(withPort.disableNagle);

  // With no registry value for the family, the held port is emptied.
  registry.Clear();
  ConnectionSettings emptied = readAll(6);
  EXPECT_EQ(23u, emptied.protocol);
  EXPECT_STREQ(L"", emptied.port);

  // A single file naming IPv4 holds no port yet: nothing is looked up.
  ASSERT_TRUE(registry.Set(false, L"7004"));
  ConnectionSettings single = readAll(7);
  EXPECT_EQ(2u, single.protocol);
  EXPECT_STREQ(L"", single.port);
  EXPECT_STREQ(L"", single.address);
}

TEST(ConfigFilesTest, AppliesEachKeyByItsOwnRule) {
  const std::wstring path = CurrentDirectory() + L"\\keys.cfg";
  const std::string longAddress(1500, 'a');
  const std::string longPort(1100, 'p');
  ScopedFile file(path,
                  "[SimConnect]\r\nProtocol=IPv6\r\nAddress=sim-host\r\nPort=5001\r\n"
                  "MaxReceiveSize=50000\r\nDisableNagle=1\r\n"
                  "[simconnect.1]\r\nprotocol=ipv4\r\n"
                  "[SimConnect.2]\r\nProtocol=TCP\r\n"
                  "[SimConnect.3]\r\nProtocol=auto\r\n"
                  "[SimConnect.4]\r\nProtocol=PIPE\r\n"
                  "[SimConnect.10]\r\nMaxReceiveSize=30000\r\n"
                  "[SimConnect.11]\r\nMaxReceiveSize=60000\r\n"
                  "[SimConnect.12]\r\nMaxReceiveSize=50000\r\n"
                  "[SimConnect.13]\r\nMaxReceiveSize=-1\r\n"
                  "[SimConnect.14]\r\nMaxReceiveSize=big\r\n"
                  "[SimConnect.15]\r\nMaxReceiveSize=-40000\r\n"
                  "[SimConnect.20]\r\nDisableNagle=0\r\n"
                  "[SimConnect.21]\r\nDisableNagle=yes\r\n"
                  "[SimConnect.22]\r\nDisableNagle=7\r\n"
                  "[SimConnect.23]\r\nDisableNagle=\r\nAddress=\r\nPort=\r\nProtocol=\r\n"
                  "[SimConnect.30]\r\nAddress=" +
                      longAddress + "\r\nPort=" + longPort + "\r\n");
  ASSERT_TRUE(file.written());

  // Index 0 is the section "SimConnect"; every key is taken.
  ConnectionSettings all;
  ReadConfigSection(path.c_str(), 0, all);
  EXPECT_EQ(23u, all.protocol);
  EXPECT_STREQ(L"sim-host", all.address);
  EXPECT_STREQ(L"5001", all.port);
  EXPECT_EQ(50000u, all.maxReceiveSize);
  EXPECT_TRUE(all.disableNagle);

  // Protocol names match without regard to case; unknown names change nothing.
  auto protocolAfter = [&](uint32_t index, uint32_t before) {
    ConnectionSettings settings;
    settings.protocol = before;
    ReadConfigSection(path.c_str(), index, settings);
    return settings.protocol;
  };
  EXPECT_EQ(2u, protocolAfter(1, 1));
  EXPECT_EQ(23u, protocolAfter(2, 23));
  EXPECT_EQ(1u, protocolAfter(3, 23));
  EXPECT_EQ(1u, protocolAfter(4, 2));

  // The receive limit is only ever raised, compared unsigned.
  auto limitAfter = [&](std::initializer_list<uint32_t> indexes) {
    ConnectionSettings settings;
    for (uint32_t index : indexes) ReadConfigSection(path.c_str(), index, settings);
    return settings.maxReceiveSize;
  };
  EXPECT_EQ(41088u, limitAfter({10}));
  EXPECT_EQ(60000u, limitAfter({11}));
  EXPECT_EQ(60000u, limitAfter({11, 12}));
  EXPECT_EQ(60000u, limitAfter({12, 11}));
  EXPECT_EQ(0xFFFFFFFFu, limitAfter({13}));
  EXPECT_EQ(0xFFFFFFFFu, limitAfter({13, 11}));
  EXPECT_EQ(41088u, limitAfter({14}));
  EXPECT_EQ(static_cast<uint32_t>(-40000), limitAfter({15}));

  // DisableNagle: any nonzero number sets it, 0 or a non-number clears it, an
  // empty value leaves it (as it leaves every other key).
  auto nagleAfter = [&](uint32_t index) {
    ConnectionSettings settings = all;
    ReadConfigSection(path.c_str(), index, settings);
    return settings;
  };
  EXPECT_FALSE(nagleAfter(20).disableNagle);
  EXPECT_FALSE(nagleAfter(21).disableNagle);
  EXPECT_TRUE(nagleAfter(22).disableNagle);
  ConnectionSettings emptyValues = nagleAfter(23);
  EXPECT_TRUE(emptyValues.disableNagle);
  EXPECT_EQ(23u, emptyValues.protocol);
  EXPECT_STREQ(L"sim-host", emptyValues.address);
  EXPECT_STREQ(L"5001", emptyValues.port);

  // Texts are cut to 1023 units and terminated.
  ConnectionSettings cut;
  ReadConfigSection(path.c_str(), 30, cut);
  EXPECT_EQ(1023u, std::wcslen(cut.address));
  EXPECT_EQ(1023u, std::wcslen(cut.port));
  EXPECT_EQ(std::wstring(1023, L'a'), cut.address);
  EXPECT_EQ(std::wstring(1023, L'p'), cut.port);

  // A missing section or file changes nothing.
  ConnectionSettings untouched;
  ReadConfigSection(path.c_str(), 99, untouched);
  ReadConfigSection((CurrentDirectory() + L"\\absent.cfg").c_str(), 0, untouched);
  EXPECT_EQ(1u, untouched.protocol);
  EXPECT_STREQ(L"", untouched.address);
  EXPECT_STREQ(L"", untouched.port);
  EXPECT_EQ(41088u, untouched.maxReceiveSize);
  EXPECT_FALSE(untouched.disableNagle);
}

TEST(ConfigFilesTest, ASectionExistsOnlyWithAtLeastOneEntry) {
  const std::wstring path = CurrentDirectory() + L"\\sections.cfg";
  ScopedFile file(path,
                  "[SimConnect]\r\nPort=1\r\n"
                  "[SimConnect.2]\r\n"
                  "[SimConnect.12]\r\nAddress=" +
                      std::string(100, 'h') + "\r\n");
  ASSERT_TRUE(file.written());

  EXPECT_EQ(0u, ConfigSectionExists(path.c_str(), 0));
  EXPECT_EQ(3u, ConfigSectionExists(path.c_str(), 2));   // present but empty
  EXPECT_EQ(0u, ConfigSectionExists(path.c_str(), 12));  // an entry longer than the probe still counts
  EXPECT_EQ(3u, ConfigSectionExists(path.c_str(), 1));   // "SimConnect.1" is not "SimConnect.12"
  EXPECT_EQ(3u, ConfigSectionExists(path.c_str(), 7));
  EXPECT_EQ(3u, ConfigSectionExists((CurrentDirectory() + L"\\absent.cfg").c_str(), 0));
}

TEST(ConfigFilesTest, RegistryPortIsTenUnitsOfWhateverTheValueHolds) {
  RegistryPorts registry;

  // Missing values empty the port.
  EXPECT_EQ(L"", PortAfterRead(false, L"stale"));
  EXPECT_EQ(L"", PortAfterRead(true, L"stale"));

  ASSERT_TRUE(registry.Set(false, L"5004"));
  ASSERT_TRUE(registry.Set(true, L"5006"));
  EXPECT_EQ(L"5004", PortAfterRead(false, L"stale"));
  EXPECT_EQ(L"5006", PortAfterRead(true, L"stale"));

  // Nine units and the terminator fill the 20 bytes; one more does not fit.
  ASSERT_TRUE(registry.Set(false, L"123456789"));
  EXPECT_EQ(L"123456789", PortAfterRead(false, L"stale"));
  ASSERT_TRUE(registry.Set(false, L"1234567890"));
  EXPECT_EQ(L"", PortAfterRead(false, L"stale"));

  // The type is not checked, and text stored without a terminator ends where
  // its bytes end. (RegSetValueExW adds the terminator to REG_SZ data when the
  // unit after the given bytes is one, so the source text goes on past them.)
  ASSERT_TRUE(registry.SetRaw(true, REG_BINARY, L"77", 4));
  EXPECT_EQ(L"77", PortAfterRead(true, L"999999"));
  ASSERT_TRUE(registry.SetRaw(false, REG_SZ, L"1234567890+", 20));
  EXPECT_EQ(L"1234567890", PortAfterRead(false, L"stale"));

  // Without the key at all the port is empty too.
  registry.RemoveKey();
  EXPECT_EQ(L"", PortAfterRead(true, L"stale"));
}
