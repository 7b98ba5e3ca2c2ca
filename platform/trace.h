// Debug trace: single formatted lines, sent to the system log at debug priority.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tavix {

// Formats one line (the format carries its own "\n" where the caller wants one) and hands it
// to the sink. Safe to call from any thread.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Receives every traced line exactly as formatted.
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
