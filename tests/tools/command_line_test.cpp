// bridgectl's command line: what each command takes, where options may stand,
// the connection choices and the one-line refusals; and the SimConnect.cfg it
// writes for a chosen pipe or TCP endpoint.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "config_section.h"

namespace {

using namespace bridgectl;

ParseResult Parse(std::vector<std::string> args) { return ParseCommandLine(args); }

std::string ErrorOf(std::vector<std::string> args) {
  ParseResult result = ParseCommandLine(args);
  EXPECT_FALSE(result.ok) << "accepted";
  return result.error;
}

TEST(CommandLineTest, EachCommandTakesItsArgumentsWithOptionsOnEitherSide) {
  ParseResult watch = Parse({"--json", "watch", "ENG1_N1@100", "FLAPS", "--timeout", "2500", "--count=3"});
  ASSERT_TRUE(watch.ok) << watch.error;
  const Invocation& w = watch.invocation;
  EXPECT_EQ(w.command, CommandKind::kWatch);
  EXPECT_TRUE(w.json);
  EXPECT_EQ(w.timeoutMs, 2500u);
  EXPECT_EQ(w.count, 3u);
  ASSERT_EQ(w.watch.size(), 2u);
  EXPECT_EQ(w.watch[0].name, "ENG1_N1");
  EXPECT_EQ(w.watch[0].intervalMs, 100u);
  EXPECT_EQ(w.watch[1].name, "FLAPS");
  EXPECT_EQ(w.watch[1].intervalMs, 0u);  // the bridge keeps its interval
  // A name may itself hold an '@': only the last one starts the interval.
  ParseResult at = Parse({"watch", "A@B@250"});
  ASSERT_TRUE(at.ok);
  EXPECT_EQ(at.invocation.watch[0].name, "A@B");
  EXPECT_EQ(at.invocation.watch[0].intervalMs, 250u);

  // A negative value is a value, not an option; --mjc may follow it.
  ParseResult set = Parse({"set", "TRIM", "-2.5", "--mjc", "1001"});
  ASSERT_TRUE(set.ok) << set.error;
  EXPECT_EQ(set.invocation.command, CommandKind::kSet);
  EXPECT_EQ(set.invocation.names, std::vector<std::string>{"TRIM"});
  EXPECT_EQ(set.invocation.value, -2.5);
  EXPECT_EQ(set.invocation.mjcCode, 1001u);

  ParseResult get = Parse({"get", "A", "b", "-v"});
  ASSERT_TRUE(get.ok);
  EXPECT_EQ(get.invocation.names, (std::vector<std::string>{"A", "b"}));
  EXPECT_TRUE(get.invocation.verbose);

  ParseResult keys = Parse({"keys", "17,65"});
  ASSERT_TRUE(keys.ok);
  EXPECT_EQ(keys.invocation.keys, "17,65");

  // "--" ends the options: a name that begins with a dash.
  ParseResult dashed = Parse({"get", "--", "-ODD"});
  ASSERT_TRUE(dashed.ok) << dashed.error;
  EXPECT_EQ(dashed.invocation.names, std::vector<std::string>{"-ODD"});

  for (const char* bare : {"list", "title", "attention", "rescan"}) {
    ParseResult plain = Parse({bare});
    ASSERT_TRUE(plain.ok) << bare;
    EXPECT_EQ(plain.invocation.command, CommandFromName(bare));
    EXPECT_STREQ(CommandName(plain.invocation.command), bare);
  }
}

TEST(CommandLineTest, ConnectionChoices) {
  EXPECT_EQ(Parse({"list"}).invocation.endpoint.kind, EndpointKind::kDefault);

  Endpoint pipe = Parse({"--pipe", "My Sim\\SimConnect", "--server", "PC2", "list"}).invocation.endpoint;
  EXPECT_EQ(pipe.kind, EndpointKind::kPipe);
  EXPECT_EQ(pipe.pipeName, "My Sim\\SimConnect");
  EXPECT_EQ(pipe.server, "PC2");

  Endpoint v4 = Parse({"list", "--tcp", "127.0.0.1:500"}).invocation.endpoint;
  EXPECT_EQ(v4.kind, EndpointKind::kTcp);
  EXPECT_EQ(v4.address, "127.0.0.1");
  EXPECT_EQ(v4.port, "500");
  EXPECT_FALSE(v4.ipv6);

  Endpoint v6 = Parse({"list", "--tcp=[::1]:65535"}).invocation.endpoint;
  EXPECT_EQ(v6.address, "::1");
  EXPECT_EQ(v6.port, "65535");
  EXPECT_TRUE(v6.ipv6);

  Endpoint config = Parse({"--config", "3", "list"}).invocation.endpoint;
  EXPECT_EQ(config.kind, EndpointKind::kConfigIndex);
  EXPECT_EQ(config.configIndex, 3u);

  EXPECT_EQ(ErrorOf({"--pipe", "a", "--tcp", "h:1", "list"}), "choose one of --pipe, --tcp and --config");
  EXPECT_EQ(ErrorOf({"--server", "PC2", "list"}), "--server goes with --pipe");
  for (const char* bad : {"::1:500", "[::1]500", "host:0", "host:65536", ":500", "host:", "host:5x"}) {
    EXPECT_EQ(ErrorOf({"--tcp", bad, "list"}), "--tcp takes HOST:PORT or [IPV6-ADDRESS]:PORT") << bad;
  }
  EXPECT_EQ(ErrorOf({"--pipe", "a\nb", "list"}), "--pipe needs a pipe name");
}

TEST(CommandLineTest, RefusalsAreOneLineEach) {
  EXPECT_EQ(ErrorOf({"frobnicate"}), "unknown command 'frobnicate' (see bridgectl --help)");
  EXPECT_EQ(ErrorOf({"list", "--colour"}), "unknown option '--colour' (see bridgectl --help)");
  EXPECT_EQ(ErrorOf({"get"}), "get: missing arguments (see bridgectl get --help)");
  EXPECT_EQ(ErrorOf({"list", "extra"}), "list: too many arguments (see bridgectl list --help)");
  EXPECT_EQ(ErrorOf({"set", "A", "fast"}), "set: 'fast' is not a number");
  EXPECT_EQ(ErrorOf({"set", "A", "nan"}), "set: 'nan' is not a number");
  EXPECT_EQ(ErrorOf({"set", "A", "1", "--mjc", "0"}), "--mjc takes an MJC code above 0");
  EXPECT_EQ(ErrorOf({"get", "A", "--mjc", "5"}), "--mjc is an option of set");
  EXPECT_EQ(ErrorOf({"get", "A", "--duration", "5"}), "--duration, --count and --plain are options of watch");
  EXPECT_EQ(ErrorOf({"watch", "A@0"}),
            "watch: 'A@0': the interval after @ must be a whole number of milliseconds above 0");
  EXPECT_EQ(ErrorOf({"watch", "A@x"}),
            "watch: 'A@x': the interval after @ must be a whole number of milliseconds above 0");
  EXPECT_EQ(ErrorOf({"watch", "@100"}), "watch: '@100' names no variable");
  EXPECT_EQ(ErrorOf({"get", std::string(256, 'n')}), "get: the variable name is longer than 255 characters");
  EXPECT_TRUE(Parse({"get", std::string(255, 'n')}).ok);
  EXPECT_EQ(ErrorOf({"--timeout", "0", "list"}), "--timeout takes milliseconds above 0");
  EXPECT_EQ(ErrorOf({"--timeout"}), "--timeout needs a value");
  EXPECT_EQ(ErrorOf({"--peer", "4294967296", "list"}), "--peer takes a number from 0 to 4294967295");
  // The bridge would read "65 66" as 65 and 6, but a string without any code
  // presses nothing at all: refused before connecting.
  EXPECT_EQ(ErrorOf({"keys", "ctrl+a"}), "keys: 'ctrl+a' holds no key code (write decimal codes such as \"17,65\")");
  EXPECT_TRUE(Parse({"keys", "65 66"}).ok);
  EXPECT_EQ(ErrorOf({"help", "nope"}), "help: unknown command 'nope'");

  for (const std::string& error : {ErrorOf({"frobnicate"}), ErrorOf({"set", "A", "fast"})}) {
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(CommandLineTest, HelpForEveryCommand) {
  // --help skips the argument checks: "watch --help" needs no names.
  ParseResult watchHelp = Parse({"watch", "--help"});
  ASSERT_TRUE(watchHelp.ok);
  EXPECT_TRUE(watchHelp.invocation.help);
  EXPECT_EQ(watchHelp.invocation.command, CommandKind::kWatch);

  ParseResult topic = Parse({"help", "set"});
  ASSERT_TRUE(topic.ok);
  EXPECT_EQ(topic.invocation.helpTopic, CommandKind::kSet);

  const std::string general = HelpText(CommandKind::kNone);
  for (const char* name : {"list", "watch", "get", "set", "keys", "title", "attention", "rescan"}) {
    CommandKind kind = CommandFromName(name);
    const std::string text = HelpText(kind);
    EXPECT_EQ(text.rfind(std::string("Usage: bridgectl ") + name, 0), 0u) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(general.find(std::string("  ") + name), std::string::npos) << name;
  }
  EXPECT_NE(general.find("--pipe NAME"), std::string::npos);
  EXPECT_NE(general.find("Exit status"), std::string::npos);
}

TEST(ConfigSectionTest, ChosenEndpointsBecomeOneSectionOfAPrivateFile) {
  Endpoint pipe = Parse({"--pipe", "Other Sim\\SimConnect", "list"}).invocation.endpoint;
  EXPECT_EQ(PrivateConfigText(pipe, 4242),
            "[SimConnect.4242]\r\nProtocol=Pipe\r\nAddress=.\r\nPort=Other Sim\\SimConnect\r\n");
  pipe.server = "PC2";
  EXPECT_EQ(PrivateConfigText(pipe, 7), "[SimConnect.7]\r\nProtocol=Pipe\r\nAddress=PC2\r\nPort=Other Sim\\SimConnect\r\n");

  // Loopback addresses are spelt so that the library starts no fallback chain
  // of its own from them.
  Endpoint v4 = Parse({"--tcp", "127.0.0.1:5001", "list"}).invocation.endpoint;
  EXPECT_EQ(PrivateConfigText(v4, 4242),
            "[SimConnect.4242]\r\nProtocol=IPv4\r\nAddress=localhost\r\nPort=5001\r\nDisableNagle=1\r\n");
  Endpoint v6 = Parse({"--tcp", "[::1]:5002", "list"}).invocation.endpoint;
  EXPECT_EQ(ConfigAddress(v6), "0:0:0:0:0:0:0:1");
  EXPECT_EQ(PrivateConfigText(v6, 1),
            "[SimConnect.1]\r\nProtocol=IPv6\r\nAddress=0:0:0:0:0:0:0:1\r\nPort=5002\r\nDisableNagle=1\r\n");
  Endpoint remote = Parse({"--tcp", "sim-pc:500", "list"}).invocation.endpoint;
  EXPECT_EQ(ConfigAddress(remote), "sim-pc");

  EXPECT_EQ(PrivateConfigText(Endpoint{}, 1), "");

  EXPECT_EQ(NoServerMessage(pipe), "no SimConnect server on the pipe \\\\PC2\\pipe\\Other Sim\\SimConnect");
  EXPECT_EQ(NoServerMessage(v6), "no SimConnect server at [::1]:5002");
  EXPECT_EQ(NoServerMessage(v4), "no SimConnect server at 127.0.0.1:5001");
}

}  // namespace
