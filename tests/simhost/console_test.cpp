// simhost.exe as a program: its help and its refusal of bad options, a script
// that drives a connected client (menu choice, exception, aircraft change,
// variables) and ends the program cleanly, a failing script command, and
// commands on standard input.
#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <thread>

#include "aircraft_file.h"
#include "simconnect/SimConnect.h"
#include "simhost_test_env.h"
#include "support/test_env.h"

namespace {

// simhost.exe lies next to this test program (see CMakeLists.txt).
std::wstring SimhostPath() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1) + L"simhost.exe";
}

// One run of simhost.exe with its standard input, output and error on pipes.
class SimhostProcess {
 public:
  bool Start(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&inRead, &stdin_, &inherit, 0)) return false;
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(stdin_, HANDLE_FLAG_INHERIT, 0);
    process_ = StartChild(SimhostPath(), arguments, inRead, outWrite, outWrite);
    CloseHandle(outWrite);
    CloseHandle(inRead);
    if (process_ == nullptr) {
      CloseHandle(outRead);
      return false;
    }
    reader_ = std::thread([this, outRead] {
      char chunk[4096];
      DWORD got = 0;
      while (ReadFile(outRead, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        std::lock_guard<std::mutex> guard(lock_);
        output_.append(chunk, got);
      }
      CloseHandle(outRead);
    });
    return true;
  }

  ~SimhostProcess() {
    CloseInput();
    if (process_ != nullptr) {
      if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
      CloseHandle(process_);
    }
    if (reader_.joinable()) reader_.join();
  }

  void Input(const std::string& text) {
    DWORD written = 0;
    WriteFile(stdin_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  void CloseInput() {
    if (stdin_ != nullptr) CloseHandle(stdin_);
    stdin_ = nullptr;
  }

  // The exit code, or -1 when the program did not end within `timeoutMs`.
  int Wait(DWORD timeoutMs = 20000) {
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    if (reader_.joinable()) reader_.join();
    return static_cast<int>(code);
  }

  std::string Output() {
    std::lock_guard<std::mutex> guard(lock_);
    return output_;
  }
  bool WaitForOutput(const std::string& part, DWORD timeoutMs = 10000) {
    DWORD start = GetTickCount();
    while (Output().find(part) == std::string::npos) {
      if (GetTickCount() - start >= timeoutMs) return false;
      Sleep(5);
    }
    return true;
  }

 private:
  HANDLE process_ = nullptr;
  HANDLE stdin_ = nullptr;
  std::thread reader_;
  std::mutex lock_;
  std::string output_;
};

bool WriteText(const char* path, const std::string& text) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  std::fwrite(text.data(), 1, text.size(), file);
  return std::fclose(file) == 0;
}

// Opens a library client once the program's pipe exists. (A failed attempt
// would go on to the TCP ports in the registry, which may be another
// server's.)
bool OpenWhenUp(LibraryClient& client, const std::wstring& pipe, const char* name) {
  std::wstring path = L"\\\\.\\pipe\\" + pipe;
  DWORD start = GetTickCount();
  while (!WaitNamedPipeW(path.c_str(), 100)) {
    if (GetTickCount() - start > 15000) return false;
    Sleep(20);
  }
  return client.Open(name, 1) == S_OK;
}

}  // namespace

TEST(ConsoleTest, HelpBadOptionsAndTheGenerator) {
  SimhostProcess help;
  ASSERT_TRUE(help.Start(L"--help"));
  EXPECT_EQ(0, help.Wait());
  EXPECT_NE(std::string::npos, help.Output().find("usage: simhost [options]"));
  EXPECT_NE(std::string::npos, help.Output().find("choose [N:]<item>[/<sub-item>]"));

  SimhostProcess bad;
  ASSERT_TRUE(bad.Start(L"--bogus"));
  EXPECT_EQ(2, bad.Wait());
  EXPECT_NE(std::string::npos, bad.Output().find("simhost: unknown option --bogus"));

  SimhostProcess generate;
  ASSERT_TRUE(generate.Start(L"--generate 3 --seed 5 --mjc"));
  EXPECT_EQ(0, generate.Wait());
  simhost::AircraftDescription description;
  std::string error;
  ASSERT_TRUE(simhost::ParseAircraft(generate.Output(), &description, &error)) << error << generate.Output();
  EXPECT_EQ(7u, description.variables.size());
  EXPECT_EQ(5u, description.seed);
  EXPECT_TRUE(description.mjc.enabled);
}

TEST(ConsoleTest, AScriptDrivesAClientAndEndsTheProgram) {
  std::wstring pipe = UniquePipeName("console");
  ASSERT_TRUE(WriteClientConfig({{1, "Pipe", ".", Narrow(pipe)}}));
  ASSERT_TRUE(WriteText("script.txt",
                        "# waits for the test's client, then drives it\n"
                        "echo script begins\n"
                        "wait-client Tester 15000\n"
                        "wait-menu \"Tool/Go Now\" 15000\n"
                        "menu\n"
                        "choose Tool/Go Now\n"
                        "set SIMHOST_SINE 5\n"
                        "get SIMHOST_SINE\n"
                        "exception 1 15 77 5\n"
                        "aircraft gen:12\n"
                        "title\n"
                        "vars GEN_ENG_0000\n"
                        "frames 30\n"
                        "clients\n"));
  SimhostProcess simhost;
  ASSERT_TRUE(simhost.Start(L"--pipe " + pipe + L" --no-tcp --no-registry --no-stdin --manual-clock "
                            L"--quit-grace 5000 --script script.txt"));
  LibraryClient client;
  ASSERT_TRUE(OpenWhenUp(client, pipe, "Tester"));
  ASSERT_EQ(S_OK, SimConnect_MenuAddItem(client.handle(), "Tool", 1, 0));
  ASSERT_EQ(S_OK, SimConnect_MenuAddSubItem(client.handle(), 1, "Go Now", 9, 3));

  Received m;
  ASSERT_TRUE(client.NextOfKind(4, &m, 15000)) << simhost.Output();
  EXPECT_EQ(9u, m.U32(16));
  EXPECT_EQ(3u, m.U32(20));
  ASSERT_TRUE(client.NextOfKind(1, &m, 15000));
  EXPECT_EQ(15u, m.U32(12));
  EXPECT_EQ(77u, m.U32(16));
  EXPECT_EQ(5u, m.U32(20));
  ASSERT_TRUE(client.NextOfKind(3, &m, 15000));  // the script ended: quit
  client.Close();
  EXPECT_EQ(0, simhost.Wait());

  std::string out = simhost.Output();
  for (const char* line : {"script begins", "menu of client 1 \"Tester\": Tool [Go Now]",
                           "menu item \"Tool/Go Now\" chosen: event 9 to client 1 \"Tester\"",
                           "SIMHOST_SINE set to 5", "SIMHOST_SINE = 5",
                           "exception 15 (client data size) sent to client 1 \"Tester\", SendID 77, argument 5",
                           "aircraft changed to \"Generated Aircraft 12\" (12 variables)",
                           "title \"Generated Aircraft 12\"", "GEN_ENG_00000 = ", "frame 30",
                           "client 1 \"Tester\" (pipe)", "end of script script.txt",
                           "shutting down: quit message to 1 clients", "stopped"}) {
    EXPECT_NE(std::string::npos, out.find(line)) << line << "\n" << out;
  }
}

TEST(ConsoleTest, AFailingScriptCommandEndsWithExitCodeOne) {
  // Standard input ends at once: while a script runs, that does not stop
  // the program.
  ASSERT_TRUE(WriteText("failing.txt", "echo first\nwait 300\nchoose Nothing/There\necho never\n"));
  SimhostProcess simhost;
  ASSERT_TRUE(simhost.Start(L"--pipe " + UniquePipeName("failing") + L" --no-tcp --no-registry --script failing.txt"));
  simhost.CloseInput();
  EXPECT_EQ(1, simhost.Wait());
  std::string out = simhost.Output();
  EXPECT_NE(std::string::npos, out.find("failing.txt:3: no client has the menu entry \"Nothing/There\"")) << out;
  EXPECT_EQ(std::string::npos, out.find("never"));
  EXPECT_NE(std::string::npos, out.find("stopped"));
}

TEST(ConsoleTest, CommandsOnStandardInputAndItsEnd) {
  SimhostProcess typed;
  ASSERT_TRUE(typed.Start(L"--pipe " + UniquePipeName("stdin") + L" --no-tcp --no-registry"));
  ASSERT_TRUE(typed.WaitForOutput("frame clock at 30 Hz"));
  typed.Input("echo hello from stdin\nbogus\nstop\n");
  EXPECT_EQ(0, typed.Wait());
  EXPECT_NE(std::string::npos, typed.Output().find("hello from stdin"));
  EXPECT_NE(std::string::npos, typed.Output().find("unknown command \"bogus\" (help lists them)"));

  // The end of standard input stops the program as "stop" does.
  SimhostProcess ended;
  ASSERT_TRUE(ended.Start(L"--pipe " + UniquePipeName("eof") + L" --no-tcp --no-registry"));
  ASSERT_TRUE(ended.WaitForOutput("listening on the pipe"));
  ended.CloseInput();
  EXPECT_EQ(0, ended.Wait());
  EXPECT_NE(std::string::npos, ended.Output().find("stopped"));

  // A second program on the same pipe name is refused.
  std::wstring pipe = UniquePipeName("twice");
  SimhostProcess first;
  ASSERT_TRUE(first.Start(L"--pipe " + pipe + L" --no-tcp --no-registry"));
  ASSERT_TRUE(first.WaitForOutput("listening on the pipe"));
  SimhostProcess second;
  ASSERT_TRUE(second.Start(L"--pipe " + pipe + L" --no-tcp --no-registry"));
  EXPECT_EQ(2, second.Wait());
  EXPECT_NE(std::string::npos, second.Output().find("another server owns it")) << second.Output();
  first.Input("stop\n");
  EXPECT_EQ(0, first.Wait());
}
