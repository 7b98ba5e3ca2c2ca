// Debug trace: single formatted lines, sent to the system log at debug priority while tracing is
// on: TAVIX_TRACE=1 in the environment, or SetTraceEnabled. Off, a trace costs one load. The
// system log gets at most kTraceLinesPerSecond lines a second, and says how many it missed.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tavix {

// Formats one line (the format carries its own "\n" where the caller wants one) and hands it
// to the sink. Safe to call from any thread.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

void SetTraceEnabled(bool on);
bool TraceEnabled();
// Whether an environment value of TAVIX_TRACE turns tracing on (null: unset).
bool TraceWantedBy(const char* value);

constexpr int kTraceLinesPerSecond = 50;

// The system log's share of the lines: whole seconds of the caller's clock, at most
// kTraceLinesPerSecond lines in each.
class TraceRateLimit {
  public:
    // Whether the line traced at `nowMs` is written; a line written after lines were dropped
    // finds their count in `dropped`.
    bool Admit(int64_t nowMs, int& dropped);

  private:
    int64_t second = INT64_MIN;
    int written = 0;
    int missed = 0;
};

// Receives every traced line exactly as formatted, whether tracing is on or not.
using TraceSink = std::function<void(const std::string& line)>;

// Installs a sink in place of the system log; an empty sink restores the system log.
// Returns the sink that was installed before.
TraceSink SetTraceSink(TraceSink sink);

// Collects the lines traced while it lives (for tests).
class TraceCapture {
  public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> Lines() const;
    // How many captured lines equal `line`.
    int Count(const std::string& line) const;

  private:
    mutable std::mutex mutex;
    std::vector<std::string> lines;  // guarded by mutex
    TraceSink previous;
};

}  // namespace tavix
