#include "platform/trace.h"

#include <syslog.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/thread.h"

namespace tavix {
namespace {

std::mutex sinkMutex;
TraceSink installedSink;        // guarded by sinkMutex; empty means the system log
TraceRateLimit systemLogLimit;  // guarded by sinkMutex
std::atomic<bool> sinkInstalled{false};
std::atomic<bool> enabled{TraceWantedBy(std::getenv("TAVIX_TRACE"))};

void SystemLog(const std::string& line) {
    int dropped = 0;
    if (!systemLogLimit.Admit(MonotonicMs(), dropped)) return;
    if (dropped > 0) syslog(LOG_USER | LOG_DEBUG, "(%d trace lines dropped)", dropped);
    // The system log ends every entry itself.
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    syslog(LOG_USER | LOG_DEBUG, "%s", text.c_str());
}

}  // namespace

bool TraceWantedBy(const char* value) {
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

void SetTraceEnabled(bool on) {
    enabled.store(on, std::memory_order_relaxed);
}

bool TraceEnabled() {
    return enabled.load(std::memory_order_relaxed);
}

bool TraceRateLimit::Admit(int64_t nowMs, int& dropped) {
    const int64_t now = nowMs / 1000;
    dropped = 0;
    if (now != second) {
        second = now;
        written = 0;
    }
    if (written >= kTraceLinesPerSecond) {
        ++missed;
        return false;
    }
    ++written;
    dropped = missed;
    missed = 0;
    return true;
}

void Trace(const char* format, ...) {
    if (!sinkInstalled.load(std::memory_order_relaxed) && !enabled.load(std::memory_order_relaxed))
        return;
    char fixed[512];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(fixed, sizeof fixed, format, arguments);
    va_end(arguments);
    if (length < 0) return;

    std::string line;
    if (static_cast<size_t>(length) < sizeof fixed) {
        line.assign(fixed, static_cast<size_t>(length));
    } else {
        line.resize(static_cast<size_t>(length));
        va_start(arguments, format);
        vsnprintf(line.data(), line.size() + 1, format, arguments);
        va_end(arguments);
    }

    std::lock_guard<std::mutex> lock(sinkMutex);
    if (installedSink)
        installedSink(line);
    else if (enabled.load(std::memory_order_relaxed))
        SystemLog(line);
}

TraceSink SetTraceSink(TraceSink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    TraceSink previous = std::move(installedSink);
    installedSink = std::move(sink);
    sinkInstalled.store(static_cast<bool>(installedSink), std::memory_order_relaxed);
    return previous;
}

TraceCapture::TraceCapture() {
    previous = SetTraceSink([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    });
}

TraceCapture::~TraceCapture() {
    SetTraceSink(std::move(previous));
}

std::vector<std::string> TraceCapture::Lines() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
}

int TraceCapture::Count(const std::string& line) const {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

}  // namespace tavix
