#include "tests/tools/sim_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/thread.h"

extern char** environ;

namespace tavix {
namespace {

// Starting a sanitizer build may take a while on a loaded machine.
constexpr int kStartTimeoutMs = 20000;
constexpr int kStopTimeoutMs = 10000;

void SkipSpaces(const std::string& text, size_t& at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
}

bool ReadString(const std::string& text, size_t& at, std::string& out) {
    if (at >= text.size() || text[at] != '"') return false;
    ++at;
    out.clear();
    while (at < text.size() && text[at] != '"') {
        char c = text[at++];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (at >= text.size()) return false;
        char escaped = text[at++];
        switch (escaped) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                // The simulator escapes only control bytes this way.
                if (at + 4 > text.size()) return false;
                out += static_cast<char>(std::strtol(text.substr(at, 4).c_str(), nullptr, 16));
                at += 4;
                break;
            }
            default:
                out += escaped;
        }
    }
    if (at >= text.size()) return false;
    ++at;
    return true;
}

}  // namespace

std::string SimLine::Get(const std::string& key) const {
    auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

int64_t SimLine::Number(const std::string& key) const {
    std::string value = Get(key);
    char* end = nullptr;
    long long number = std::strtoll(value.c_str(), &end, 10);
    return value.empty() || *end != '\0' ? 0 : number;
}

SimLine ParseSimLine(const std::string& text) {
    SimLine line;
    line.text = text;
    size_t at = 0;
    SkipSpaces(text, at);
    if (at >= text.size() || text[at++] != '{') return line;
    std::map<std::string, std::string> fields;
    for (;;) {
        SkipSpaces(text, at);
        std::string key, value;
        if (!ReadString(text, at, key)) return line;
        SkipSpaces(text, at);
        if (at >= text.size() || text[at++] != ':') return line;
        SkipSpaces(text, at);
        if (at < text.size() && text[at] == '"') {
            if (!ReadString(text, at, value)) return line;
        } else {
            size_t end = text.find_first_of(",}", at);
            if (end == std::string::npos) return line;
            value = text.substr(at, end - at);
            at = end;
        }
        fields[key] = value;
        SkipSpaces(text, at);
        if (at >= text.size()) return line;
        if (text[at] == '}') break;
        if (text[at++] != ',') return line;
    }
    line.fields = std::move(fields);
    return line;
}

SimProcess::SimProcess(const std::vector<std::string>& arguments) {
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) return;

    std::vector<std::string> all = {TAVIX_SIM_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    all.insert(all.end(), {"--port", "0", "--exit-with-parent"});
    std::vector<char*> argv;
    for (std::string& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    pid_t child = -1;
    int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (spawned != 0) {
        close(output[0]);
        return;
    }
    pid = child;
    reader = std::thread([this, descriptor = output[0]] { ReadOutput(descriptor); });

    auto listening =
        WaitFor([](const SimLine& line) { return line.Is("event", "listening"); }, kStartTimeoutMs);
    if (listening) port = static_cast<uint16_t>(listening->Number("port"));
}

SimProcess::~SimProcess() {
    bool running = pid > 0;
    int status = Stop();
    // A crash or a sanitizer report in the simulator fails the test that ran it.
    if (running && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        ADD_FAILURE() << "tavix-sim did not stop cleanly (status " << status << ")";
}

void SimProcess::ReadOutput(int descriptor) {
    std::string partial;
    char piece[4096];
    for (;;) {
        ssize_t got = read(descriptor, piece, sizeof piece);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        partial.append(piece, static_cast<size_t>(got));
        size_t end;
        while ((end = partial.find('\n')) != std::string::npos) {
            SimLine line = ParseSimLine(partial.substr(0, end));
            partial.erase(0, end + 1);
            std::lock_guard<std::mutex> hold(lock);
            lines.push_back(std::move(line));
            arrived.notify_all();
        }
    }
    close(descriptor);
    std::lock_guard<std::mutex> hold(lock);
    ended = true;
    arrived.notify_all();
}

std::optional<SimLine> SimProcess::WaitFor(const std::function<bool(const SimLine&)>& match,
                                           int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> hold(lock);
    size_t checked = 0;
    for (;;) {
        for (; checked < lines.size(); ++checked) {
            if (match(lines[checked])) return lines[checked];
        }
        if (ended || arrived.wait_until(hold, deadline) == std::cv_status::timeout) {
            for (; checked < lines.size(); ++checked) {
                if (match(lines[checked])) return lines[checked];
            }
            return std::nullopt;
        }
    }
}

std::vector<SimLine> SimProcess::WaitForRequests(const std::string& kind, size_t count,
                                                 int timeoutMs) {
    WaitFor([&, seen = size_t{0}](
                const SimLine& line) mutable { return line.IsRequest(kind) && ++seen >= count; },
            timeoutMs);
    return Requests(kind);
}

std::vector<SimLine> SimProcess::Lines() const {
    std::lock_guard<std::mutex> hold(lock);
    return lines;
}

std::vector<SimLine> SimProcess::Requests(const std::string& kind) const {
    std::vector<SimLine> found;
    std::lock_guard<std::mutex> hold(lock);
    for (const SimLine& line : lines) {
        if (line.IsRequest(kind)) found.push_back(line);
    }
    return found;
}

int SimProcess::Stop() {
    if (pid <= 0) return -1;
    kill(pid, SIGTERM);
    int status = -1;
    int64_t deadline = MonotonicMs() + kStopTimeoutMs;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) {
            status = -1;
            break;
        }
        if (MonotonicMs() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        SleepMs(5);
    }
    pid = -1;
    if (reader.joinable()) reader.join();
    return status;
}

}  // namespace tavix
