// A running tavix-sim for tests: started on an ephemeral port, its output lines collected,
// stopped (SIGTERM, then SIGKILL) and reaped when the object goes; a simulator that does not
// then exit with status 0 fails the running test.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavix {

// One output line of the simulator: a flat JSON object.
struct SimLine {
    std::string text;
    std::map<std::string, std::string> fields;  // values as text; strings unescaped

    std::string Get(const std::string& key) const;
    int64_t Number(const std::string& key) const;  // 0 when absent or not a number
    bool Is(const std::string& key, const std::string& value) const { return Get(key) == value; }
    bool IsRequest(const std::string& kind) const { return Is("request", kind); }
};

// Parses a flat JSON object; an empty field map when the text is not one.
SimLine ParseSimLine(const std::string& text);

class SimProcess {
  public:
    // Starts tavix-sim with `arguments` plus "--port 0" and waits for its listening line.
    explicit SimProcess(const std::vector<std::string>& arguments = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // 0 when the simulator did not start.
    uint16_t Port() const { return port; }
    // The simulator's process (benchmarks read its CPU time); -1 once stopped.
    pid_t Pid() const { return pid; }

    // The first line (seen before or arriving within timeoutMs) that `match` accepts.
    std::optional<SimLine> WaitFor(const std::function<bool(const SimLine&)>& match,
                                   int timeoutMs = 5000);
    // Waits until `count` lines are of request `kind`; those lines (fewer at the deadline).
    std::vector<SimLine> WaitForRequests(const std::string& kind, size_t count,
                                         int timeoutMs = 5000);
    std::vector<SimLine> Lines() const;
    std::vector<SimLine> Requests(const std::string& kind) const;

    // SIGTERM and wait: the exit status as waitpid reports it, or -1.
    int Stop();

  private:
    void ReadOutput(int descriptor);

    pid_t pid = -1;
    uint16_t port = 0;
    std::thread reader;
    mutable std::mutex lock;
    std::condition_variable arrived;
    std::vector<SimLine> lines;  // guarded by lock
    bool ended = false;          // guarded by lock: output closed
};

}  // namespace tavix
