// tavix-probe: command-line looks at what a recorder sends. One source file per subcommand.
#include <cstdio>
#include <cstring>

#include "platform/trace.h"
#include "tools/tavix-probe/commands.h"

namespace tavix::probe {
namespace {

constexpr Command kCommands[] = {
    {"inspect", "cut a stored stream into frames and list them", RunInspect},
    {"decode", "decode a stored stream into pictures as the player does", RunDecode},
    {"channels", "log in to a recorder and list its channels", RunChannels},
    {"play", "play a recorder's channel as the live view does", RunPlay},
    {"ptz", "send one PTZ command for a recorder's channel", RunPtz},
};

void PrintHelp(FILE* to) {
    std::fprintf(to,
                 "Usage: tavix-probe [--trace] COMMAND [ARGUMENTS]\n"
                 "\n"
                 "Looks at the media a recorder sends, as Tavix sees it.\n"
                 "\n"
                 "Commands:\n");
    for (const Command& command : kCommands)
        std::fprintf(to, "  %-10s %s\n", command.name, command.summary);
    std::fprintf(to,
                 "\n"
                 "'tavix-probe COMMAND --help' tells more about a command.\n"
                 "--trace sends the client's debug trace to the system log (as TAVIX_TRACE=1\n"
                 "does), at most %d lines a second.\n"
                 "Exit status: 0 ok, 1 the work failed, 2 usage error.\n",
                 tavix::kTraceLinesPerSecond);
}

}  // namespace
}  // namespace tavix::probe

int main(int argc, char** argv) {
    using namespace tavix::probe;
    if (argc >= 2 && std::strcmp(argv[1], "--trace") == 0) {
        tavix::SetTraceEnabled(true);
        --argc;
        ++argv;
    }
    if (argc < 2) {
        PrintHelp(stderr);
        return kExitUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintHelp(stdout);
        return kExitOk;
    }
    for (const Command& command : kCommands)
        if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 1, argv + 1);
    std::fprintf(stderr, "tavix-probe: unknown command '%s'\nTry 'tavix-probe --help'.\n", argv[1]);
    return kExitUsage;
}
