// The TCP ports in the registry: written as text while the server runs, found
// there by the client library's default chain when no pipe answers, and
// removed when the server stops unless another server has written its own
// meanwhile.
#include "registry_ports.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "simconnect/SimConnect.h"
#include "simhost_test_env.h"

using namespace simhost;

namespace {

// The value's text, or "" when it is missing; its type in *type.
std::wstring ReadPort(const wchar_t* name, DWORD* type) {
  wchar_t text[32] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  *type = REG_NONE;
  if (RegGetValueW(HKEY_CURRENT_USER, kPortsKey, name, RRF_RT_ANY, type, text, &size) != ERROR_SUCCESS) return L"";
  return text;
}

void RemovePorts() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kPortsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, kPortValue6);
  RegDeleteValueW(key, kPortValue4);
  RegCloseKey(key);
}

}  // namespace

TEST(RegistryPortsTest, TheRunningServerLeavesItsPortsAsText) {
  RemovePorts();
  LogCapture log;
  SimHostOptions options = TestHostOptions(UniquePipeName("registry"), log);
  options.pipe = false;  // clients must come by the registry's ports
  options.tcp6 = true;
  options.tcp4 = true;
  options.writeRegistry = true;
  {
    SimHost host;
    std::string error;
    ASSERT_TRUE(host.Start(options, &error)) << error;
    DWORD type = 0;
    EXPECT_EQ(std::to_wstring(host.Port6()), ReadPort(kPortValue6, &type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::to_wstring(host.Port4()), ReadPort(kPortValue4, &type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_TRUE(log.HasLine("TCP ports written to the registry"));

    // A client with the default configuration finds no pipe and follows
    // the registry to ::1.
    LibraryClient client;
    ASSERT_EQ(S_OK, client.Open("FromRegistry", kConfigIndexDefault));
    Received reply;
    ASSERT_TRUE(client.NextOfKind(2, &reply));
    EXPECT_TRUE(log.WaitForLine("client 1 \"FromRegistry\" opened (tcp6)"));
    client.Close();
    host.Stop();
    EXPECT_EQ(L"", ReadPort(kPortValue6, &type));
    EXPECT_EQ(L"", ReadPort(kPortValue4, &type));
  }

  // Without a listener on ::1 only the IPv4 port is written, and the default
  // chain of the client goes on to 127.0.0.1.
  options.tcp6 = false;
  {
    SimHost host;
    std::string error;
    ASSERT_TRUE(host.Start(options, &error)) << error;
    DWORD type = 0;
    EXPECT_EQ(L"", ReadPort(kPortValue6, &type));
    EXPECT_EQ(std::to_wstring(host.Port4()), ReadPort(kPortValue4, &type));
    LibraryClient client;
    ASSERT_EQ(S_OK, client.Open("FromRegistry4", kConfigIndexDefault));
    Received reply;
    ASSERT_TRUE(client.NextOfKind(2, &reply));
    EXPECT_TRUE(log.WaitForLine("client 1 \"FromRegistry4\" opened (tcp4)"));

    // Ports that another server wrote after ours are left alone.
    RegistryPorts other;
    ASSERT_TRUE(other.Write(1234, 0));
    client.Close();
    host.Stop();
    EXPECT_EQ(L"1234", ReadPort(kPortValue6, &type));
    EXPECT_EQ(L"", ReadPort(kPortValue4, &type));
  }
  RemovePorts();
}
