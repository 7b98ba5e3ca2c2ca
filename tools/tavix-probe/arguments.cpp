// Helpers the subcommands share for reading their arguments.
#include <charconv>
#include <cstdio>

#include "tools/tavix-probe/commands.h"

namespace tavix::probe {

bool ParseNumber(std::string_view text, int low, int high, int* value) {
    int parsed = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

int UsageError(const char* command, const std::string& message) {
    std::fprintf(stderr, "tavix-probe %s: %s\nTry 'tavix-probe %s --help'.\n", command,
                 message.c_str(), command);
    return kExitUsage;
}

}  // namespace tavix::probe
