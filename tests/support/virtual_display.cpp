#include "tests/support/virtual_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern char** environ;

namespace tavix {
namespace {

constexpr int kReportFd = 9;            // the descriptor Xvfb writes its display number to
constexpr int kStartTimeoutMs = 15000;  // Xvfb under a loaded sanitizer run can be slow

// Whether the X server of display `number` takes a client: a connection set-up request (no
// authorisation) answered with success, over the abstract socket or the socket file, the two
// ways a client library tries.
bool Answers(const std::string& number) {
    const std::string path = "/tmp/.X11-unix/X" + number;
    for (bool abstract : {true, false}) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const size_t offset = abstract ? 1 : 0;  // an abstract name starts with a zero byte
        if (offset + path.size() >= sizeof address.sun_path) return false;
        std::memcpy(address.sun_path + offset, path.data(), path.size());
        const socklen_t length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        // Little-endian, protocol 11.0, empty authorisation name and data.
        const unsigned char request[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        unsigned char status = 0;
        pollfd reply{fd, POLLIN, 0};
        const bool answered =
            connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
            write(fd, request, sizeof request) == static_cast<ssize_t>(sizeof request) &&
            poll(&reply, 1, kStartTimeoutMs) == 1 && read(fd, &status, 1) == 1 && status == 1;
        close(fd);
        if (answered) return true;
    }
    return false;
}

// Answers, tried until the start-up time is over.
bool AnswersSoon(const std::string& number) {
    for (int waited = 0; waited < kStartTimeoutMs; waited += 20) {
        if (Answers(number)) return true;
        usleep(20000);
    }
    return false;
}

}  // namespace

VirtualDisplay::VirtualDisplay(int width, int height, int depth) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return;
    const std::string screen =
        std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    const std::string fd = std::to_string(kReportFd);
    // -noreset: a client that leaves last (the check below, a screen grab) does not make the
    // server start over while the next one connects.
    std::vector<std::string> arguments{"Xvfb", "-displayfd", fd,    "-screen", "0",
                                       screen, "-nolisten",  "tcp", "-noreset"};
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, report[1], kReportFd);
    static std::atomic<int> count{0};
    logPath = (std::filesystem::temp_directory_path() /
               ("tavix-xvfb-" + std::to_string(getpid()) + "-" + std::to_string(++count) + ".log"))
                  .string();
    posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
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
            if (!number.empty() && AnswersSoon(number)) name = ":" + number;
            break;
        }
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        number += c;
    }
    close(report[0]);
}

VirtualDisplay::~VirtualDisplay() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    if (!logPath.empty()) unlink(logPath.c_str());
}

std::string VirtualDisplay::Log() const {
    std::ifstream file(logPath);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace tavix
