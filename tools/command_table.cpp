// tools/command_table.cpp - the commands of the host tool, one row each.
// main's dispatch, `zera help`, `zera help COMMAND`, `zera COMMAND --help`
// and the manual page (`zera help --man`, installed as zera(1)) are all
// made from these rows, so what the tool does and what it says it does
// come from one place.
//
// How to add a command, say `zera frob <file>` with an option --depth N:
//   1. Write tools/frob_command.cpp (a two-word command `zera frob all`:
//      tools/frob_all_command.cpp). It includes "command.h" and defines, in
//      namespace tool, its options record (deriving from CommonOptions), a
//      parse that reads the record from the CommandLine the table split
//      (the words, and --depth with its value as given: check and convert
//      it there, saying what is wrong with line.Bad), and the entry
//          int CommandFrob(const CommandLine &line) {
//              return RunParsed<FrobOptions>(line, ParseFrob, Frob);
//          }
//      which returns kExitOk, kExitFailed or kExitUsage.
//   2. Here: declare CommandFrob with the others below and add its row to
//      Commands(), where it is to stand in the list: name, synopsis and
//      summary for the list, the usage text (its usage lines, what it does,
//      its own options; the common ones are added), the options that take a
//      value and those that take none, the common options it takes, the
//      entry.
// Nothing else: CMake picks up every tools/*.cpp. A command that needs the
// Link has its row in the #if ZERA_TOOL_LINK part below, and its file's
// body inside the same #if.
// `zera help frob` and `zera help --man | man -l -` show the result. Its
// tests are rows of the tables in tests/tool/tool_test.cpp; one that takes
// --json needs a row in the JSON test's, which looks for one.
#include "command.h"

namespace tool {

int CommandRun(const CommandLine &line);
int CommandInspect(const CommandLine &line);
int CommandDescribe(const CommandLine &line);
int CommandList(const CommandLine &line);
#if ZERA_TOOL_LINK
int CommandServe(const CommandLine &line);
int CommandTop(const CommandLine &line);
int CommandKeygen(const CommandLine &line);
#endif
int CommandVersion(const CommandLine &line);
int CommandHelp(const CommandLine &line);
int CommandTraceMerge(const CommandLine &line);

// --trace-out as run and serve take it (tools/timeline_file.h).
#define ZERA_TRACE_OUT_USAGE                                                           \
    "  --trace-out FILE         write the stack's timeline to FILE (trace-event JSON\n" \
    "                           for chrome://tracing or ui.perfetto.dev)\n"

const std::vector<Command> &Commands() {
    static const std::vector<Command> commands = {
        {"run", "[<component>...]", "build a stack, run it and report (default: the sample stack)",
         "usage: zera run [<component>...] [--duration SECONDS] [--set LEVEL:NAME=VALUE]...\n"
         "                [--send LEVEL:PERIOD_MS[:COUNT]]... [--trace] [--trace-out FILE]\n"
         "                [--latency] [--json] [-v]\n"
         "\n"
         "Builds a stack on a host level 0 from the components given (bottom to top;\n"
         "none: the sample stack Counter Loopback Ticker), sets the parameters, starts\n"
         "it, sends host events on the schedules given, receives what comes down to\n"
         "level 0, and after the duration (default 5 s) or Ctrl-C stops it and prints a\n"
         "report per level: component, status, statistics, load figures and stack\n"
         "parameters.\n"
         "\n"
         "  --duration SECONDS       how long to run (0 < SECONDS <= 86400)\n"
         "  --set LEVEL:NAME=VALUE   set a stack parameter of LEVEL before the start\n"
         "  --send LEVEL:PERIOD_MS[:COUNT]\n"
         "                           send a host event to LEVEL every PERIOD_MS ms,\n"
         "                           COUNT times (default 0: until the run ends)\n"
         "  --trace                  show each event that reaches level 0: time since\n"
         "                           the start, level, type, identifier, data in hex and\n"
         "                           attachments (with --json: in the report's \"trace\")\n"
         ZERA_TRACE_OUT_USAGE
         "  --latency                print each level's residence times in its send and\n"
         "                           receive queues: p50, p90, p99, p99.9, max (on\n"
         "                           stderr with --json)\n",
         {"--duration", "--set", "--send", "--trace-out"}, {"--trace", "--latency"}, kTakesJson | kTakesVerbose,
         CommandRun},
        {"inspect", "<component>", "show a component's info blocks and stack parameters",
         "usage: zera inspect <component> [--exists] [--json] [-v]\n"
         "\n"
         "Loads one component module and prints its file, name, info blocks and stack\n"
         "parameters with their access classes, attributes, values and permitted\n"
         "values, and warns of exports that the library cannot use (one name of the\n"
         "start or stop pair without the other). A module that the library refuses\n"
         "is reported with the error code and text, and the tool exits with status 1.\n"
         "\n"
         "  --exists                 print nothing; exit 0 when the component is found\n"
         "                           and the library takes it, 1 when not\n",
         {}, {"--exists"}, kTakesJson | kTakesVerbose, CommandInspect},
        {"describe", "<component>...", "build a stack and decode its stack description",
         "usage: zera describe <component>... [--json] [-v]\n"
         "\n"
         "Builds the stack from the components given (bottom to top) and prints the\n"
         "stack description packet of level 0, decoded level by level: number,\n"
         "component name, status and stack parameters.\n",
         {}, {}, kTakesJson | kTakesVerbose, CommandDescribe},
        {"list", "", "list the components on the search path",
         "usage: zera list [--json] [-v]\n"
         "\n"
         "Lists every component on the search path, once (the first found, which the\n"
         "other commands would load): its name, file, version and what it accepts on\n"
         "top of it. Modules that are no components are listed with the reason.\n",
         {}, {}, kTakesJson | kTakesVerbose, CommandList},
#if ZERA_TOOL_LINK
        {"serve", "<component>...", "serve a stack at a link endpoint",
         "usage: zera serve <component>... [--bind ENDPOINT | --connect ENDPOINT] [--name NAME]\n"
         "                  [--peer-name NAME] [--hwm N] [--interval MS] [--set LEVEL:NAME=VALUE]...\n"
         "                  [--curve-secret FILE --allow FILE|DIR] [--insecure] [--trace-out FILE]\n"
         "\n"
         "Builds a stack from the components given (bottom to top) and serves it at a\n"
         "link endpoint until Ctrl-C or SIGTERM: a Link component at the top of a stack\n"
         "in another process is its peer. Events from the peer are sent to level 1;\n"
         "what comes down to level 0 goes to the peer (item-list events, which carry\n"
         "the stack's status, stay here). Monitors (zera top) get the status of every\n"
         "level and the stack description on request, once they said hello. One\n"
         "stack peer holds the session: another's hello is refused while it is there.\n"
         "The first line printed names the endpoint served.\n"
         "\n"
         "  --bind ENDPOINT          bind tcp://ADDRESS:PORT (PORT * picks a free one) or\n"
         "                           ipc://PATH (default tcp://127.0.0.1:5570); an address\n"
         "                           beyond loopback needs CURVE or --insecure\n"
         "  --connect ENDPOINT       connect to a Link that binds instead\n"
         "  --name NAME              the name this end gives in its welcome (serve)\n"
         "  --peer-name NAME         refuse a stack peer of another name\n"
         "  --hwm N                  messages queued per direction and peer (default 16)\n"
         "  --interval MS            print the status every MS milliseconds\n"
         "  --set LEVEL:NAME=VALUE   set a stack parameter of LEVEL before the start\n"
         "  --curve-secret FILE      CURVE on: this server's key pair file (zera keygen)\n"
         "  --allow FILE|DIR         CURVE: the client keys let in (a file of public-key\n"
         "                           lines, or a folder of *.pub files); all others are\n"
         "                           refused\n"
         "  --insecure               bind beyond loopback without CURVE (warns each time)\n"
         ZERA_TRACE_OUT_USAGE,
         {"--bind", "--connect", "--name", "--peer-name", "--hwm", "--interval", "--set", "--curve-secret", "--allow",
          "--trace-out"},
         {"--insecure"}, kTakesVerbose, CommandServe},
        {"top", "<endpoint>", "a live view of a served stack (--describe: its\nstack description)",
         "usage: zera top <endpoint> [--count N | --describe] [--server-key KEY --key FILE] [--json]\n"
         "\n"
         "Shows a served stack (zera serve) each second: per level its component,\n"
         "status, events per second and load figures, and the link's own figures.\n"
         "On a terminal the view is redrawn in place; otherwise one block of plain\n"
         "text per second, or one JSON object per line with --json.\n"
         "\n"
         "  --count N                stop after N views (default: until Ctrl-C)\n"
         "  --describe               print the served stack's description once, as\n"
         "                           zera describe prints a local one, and end\n"
         "  --server-key KEY         CURVE: the server's public key, or its .pub file\n"
         "  --key FILE               CURVE: this end's key pair file (zera keygen)\n",
         {"--count", "--server-key", "--key"}, {"--describe"}, kTakesJson, CommandTop},
        {"keygen", "<name>", "make a CURVE key pair for a link end",
         "usage: zera keygen <name>\n"
         "\n"
         "Makes a CURVE key pair for an end of a link and writes it to <name>.key\n"
         "(public-key and secret-key lines, readable by its owner only) and its\n"
         "public key to <name>.pub; never overwrites a file. Give the server's .key\n"
         "to zera serve --curve-secret and its public key to each client (Link\n"
         "parameter ServerKey, zera top --server-key); put each client's .pub in the\n"
         "server's --allow folder, and its .key in the Link's KeyFile.\n",
         {}, {}, 0, CommandKeygen},
#endif
        {"trace merge", "<A> <B>", "merge the timelines of two processes joined by a link",
         "usage: zera trace merge A B > C\n"
         "\n"
         "Writes the timelines A and B (ZERA_TRACE, zera run --trace-out) of two\n"
         "processes joined by a link as one: B's time stamps on A's clock by the\n"
         "link's estimate (within its error), B's processes after A's, and an arrow\n"
         "from each event's slices on one side to its slices on the other. Refuses,\n"
         "writing nothing, a file it cannot read, one that is no timeline, and two\n"
         "that record no link session in common.\n",
         {}, {}, 0, CommandTraceMerge},
        {"version", "", "show the tool's version",
         "usage: zera version [--json]\n"
         "\n"
         "Prints the tool's version (with --json: {\"tool\": \"zera\", \"version\": ...}).\n",
         {}, {}, kTakesJson, CommandVersion},
        {"help", "[<command>]", "show this text, or the options of a command\n(--man: the manual page)",
         "usage: zera help [<command> | --man]\n"
         "\n"
         "Prints the list of commands, the usage of one command, or with --man the\n"
         "tool's manual page (man(7) format) made of the same texts.\n",
         {}, {}, kTakesWordsAsGiven, CommandHelp},
    };
    return commands;
}

}  // namespace tool
