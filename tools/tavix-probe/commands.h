// The subcommands of tavix-probe. Each takes the arguments after its name (argv[0] is the
// subcommand's name), writes its results to standard output and its errors to standard error,
// and returns the program's exit status.
#pragma once

#include <string>
#include <string_view>

namespace tavix::probe {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the work could not be done: a missing file, a read error
constexpr int kExitUsage = 2;    // the command line was wrong

struct Command {
    const char* name;
    const char* summary;  // one line for the program's help
    int (*run)(int argc, char** argv);
};

// Reads all of `text` as a decimal number from low to high into `value`; false, leaving `value`
// alone, when it is not one.
bool ParseNumber(std::string_view text, int low, int high, int* value);

// The usage error of a subcommand: message and hint on standard error; returns kExitUsage.
int UsageError(const char* command, const std::string& message);

int RunInspect(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunChannels(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunPtz(int argc, char** argv);

}  // namespace tavix::probe
