// Helpers the subcommands share for reading their arguments.
#include <charconv>

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

}  // namespace tavix::probe
