// The viewer's own command line: none is needed. --help and --version answer and end the
// program; --view NAME starts in a saved view, --fullscreen full screen; every other argument
// is left to Qt (-platform, -display, ...), which takes its own.
#pragma once

#include <string>

namespace tavix {

struct StartOptions {
    bool help = false;
    bool version = false;
    bool fullScreen = false;
    std::string view;   // UTF-8; empty: none
    std::string error;  // an option of ours without its value
};

// Reads the program's own options from the arguments.
StartOptions ParseStartOptions(int argc, const char* const* argv);

// The texts --help and --version print.
std::string StartHelp();
std::string StartVersion();

}  // namespace tavix
