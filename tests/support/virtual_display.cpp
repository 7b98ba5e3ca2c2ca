#include "tests/support/virtual_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <vector>

extern char** environ;

namespace tavix {
namespace {

constexpr int kReportFd = 9;            // the descriptor Xvfb writes its display number to
constexpr int kStartTimeoutMs = 15000;  // Xvfb under a loaded sanitizer run can be slow

}  // namespace

VirtualDisplay::VirtualDisplay(int width, int height, int depth) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return;
    const std::string screen =
        std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    const std::string fd = std::to_string(kReportFd);
    std::vector<std::string> arguments{"Xvfb", "-displayfd", fd,          "-screen",
                                       "0",    screen,       "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, report[1], kReportFd);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(report[1]);

    // The number ends with a newline; the pipe closes early when Xvfb gave up.
    std::string number;
    pollfd waiting{report[0], POLLIN, 0};
    while (pid > 0 && poll(&waiting, 1, kStartTimeoutMs) == 1) {
        char c;
        if (read(report[0], &c, 1) != 1) break;
        if (c == '\n') {
            if (!number.empty()) name = ":" + number;
            break;
        }
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        number += c;
    }
    close(report[0]);
}

VirtualDisplay::~VirtualDisplay() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

}  // namespace tavix
