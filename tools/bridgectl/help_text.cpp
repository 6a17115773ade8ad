// bridgectl's help texts. OS-free.
#include "command_line.h"

namespace bridgectl {

namespace {

constexpr char kGeneralHelp[] =
    "bridgectl: talks to the TAVO.quin Simulator Bridge (TVOBridge64.dll) through any\n"
    "SimConnect server, as the TAVO.quin application does.\n"
    "\n"
    "Usage: bridgectl [options] COMMAND [arguments]\n"
    "\n"
    "Commands:\n"
    "  list                         the aircraft's variables, with the total\n"
    "  watch NAME[@MS] ...          follow variables as they change, until Ctrl+C\n"
    "  get NAME ...                 read variables once\n"
    "  set NAME VALUE [--mjc CODE]  write a variable\n"
    "  keys KEYSTRING               press keys in the simulator, e.g. \"17,65\" (Ctrl+A)\n"
    "  title                        the user aircraft's title\n"
    "  attention                    show \"TAVO.quin needs your attention!\" in the simulator\n"
    "  rescan                       make the bridge rebuild its variable list\n"
    "  help [COMMAND]               this text, or one command's help\n"
    "\n"
    "Connection (default: the simulator's own pipe, then the TCP ports it leaves in\n"
    "the registry):\n"
    "  --pipe NAME        the named pipe \\\\.\\pipe\\NAME\n"
    "  --server HOST      with --pipe: the machine that serves the pipe\n"
    "  --tcp HOST:PORT    TCP; an IPv6 address goes in brackets: --tcp [::1]:50123\n"
    "  --config N         section [SimConnect.N] of SimConnect.cfg ([SimConnect] for 0),\n"
    "                     read from Public Documents, Documents and the current folder\n"
    "\n"
    "Options:\n"
    "  --timeout MS       how long to wait for the bridge's answers (default 5000)\n"
    "  --json             machine-readable output: one JSON object per line\n"
    "  --tag N            the tag of the Connect request (default: chosen per run)\n"
    "  --peer N           the peer id given with Connect (default: chosen per run)\n"
    "  -v, --verbose      progress messages on standard error\n"
    "  -h, --help         help; bridgectl COMMAND --help for one command\n"
    "\n"
    "Exit status: 0 success, 1 failure (no server, no bridge, unknown variable, ...),\n"
    "2 wrong command line. Errors are one line on standard error.\n";

constexpr char kListHelp[] =
    "Usage: bridgectl list [--json]\n"
    "\n"
    "Asks the bridge for the aircraft's variable list, collects every chunk of it\n"
    "and prints the names, one a line, then the total. MJC variables that the bridge\n"
    "keeps are counted in the bridge's total but not named.\n"
    "With --json: one object {\"count\": N, \"total\": T, \"names\": [...]}.\n";

constexpr char kWatchHelp[] =
    "Usage: bridgectl watch NAME[@MS] ... [--duration S] [--count N] [--plain] [--json]\n"
    "\n"
    "Starts monitoring the variables and prints each value the bridge reports: the\n"
    "time it arrived, the name and the value. The bridge reads each variable every MS\n"
    "milliseconds (without @MS: the interval it already has, 1000 for a new one) and\n"
    "reports it when it has moved by 0.01 or more.\n"
    "\n"
    "On a console the variables form a live table; otherwise (or with --plain) each\n"
    "report is one line. With --json each report is one JSON object per line:\n"
    "  {\"time\":\"2024-05-01T12:00:00.250\",\"name\":\"ENG1_N1\",\"value\":84.2,\"mjc\":false}\n"
    "and events (aircraft changes, variables added or removed) are objects with \"event\".\n"
    "\n"
    "When the aircraft changes, monitoring starts again for every variable that the\n"
    "new aircraft has. Ctrl+C (or --duration S seconds, or --count N reports) stops\n"
    "monitoring and exits with status 0. A name the bridge does not know is an error.\n";

constexpr char kGetHelp[] =
    "Usage: bridgectl get NAME ... [--json]\n"
    "\n"
    "Asks the bridge to read each variable once and prints NAME = VALUE. Names are\n"
    "matched without regard to case. A name the bridge does not know is an error.\n";

constexpr char kSetHelp[] =
    "Usage: bridgectl set NAME VALUE [--mjc CODE] [--json]\n"
    "\n"
    "Writes VALUE into the variable and reads it back: prints NAME = OLD -> NEW.\n"
    "A name the bridge does not know is an error.\n"
    "With --mjc CODE the value goes to the aircraft's MJC variable CODE through its\n"
    "MJC_VAR_WRITE handshake; NAME then only labels the request. An aircraft without\n"
    "the handshake is an error; the aircraft's own answer (done, data not found, no\n"
    "answer) is written only to the bridge's log.\n";

constexpr char kKeysHelp[] =
    "Usage: bridgectl keys KEYSTRING\n"
    "\n"
    "Makes the bridge press keys: KEYSTRING lists decimal Windows virtual-key codes,\n"
    "each followed by one separator character (\"17,65\" or \"17+65\": Control, then A).\n"
    "All keys go down in order, 50 ms later all come up in the same order. They reach\n"
    "whatever window has the keyboard focus. Blanks alone do not separate codes: \"65 66\"\n"
    "reads as 65 and 6.\n";

constexpr char kTitleHelp[] =
    "Usage: bridgectl title [--json]\n"
    "\n"
    "Prints the title of the user aircraft as the bridge knows it.\n";

constexpr char kAttentionHelp[] =
    "Usage: bridgectl attention\n"
    "\n"
    "Makes the bridge show \"TAVO.quin needs your attention!\" on the simulator's\n"
    "screen for 30 seconds.\n";

constexpr char kRescanHelp[] =
    "Usage: bridgectl rescan [--json]\n"
    "\n"
    "Makes the bridge rebuild its variable list from the aircraft and prints each\n"
    "variable it announces. Every monitoring ends (running watches too).\n";

constexpr char kHelpHelp[] =
    "Usage: bridgectl help [COMMAND]\n"
    "\n"
    "Prints the general help, or the help of one command.\n";

}  // namespace

std::string HelpText(CommandKind command) {
  switch (command) {
    case CommandKind::kNone:
      return kGeneralHelp;
    case CommandKind::kHelp:
      return kHelpHelp;
    case CommandKind::kList:
      return kListHelp;
    case CommandKind::kWatch:
      return kWatchHelp;
    case CommandKind::kGet:
      return kGetHelp;
    case CommandKind::kSet:
      return kSetHelp;
    case CommandKind::kKeys:
      return kKeysHelp;
    case CommandKind::kTitle:
      return kTitleHelp;
    case CommandKind::kAttention:
      return kAttentionHelp;
    case CommandKind::kRescan:
      return kRescanHelp;
  }
  return kGeneralHelp;
}

}  // namespace bridgectl
