#include "platform/trace.h"

#include <syslog.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace tavix {
namespace {

std::mutex sinkMutex;
TraceSink installedSink;  // guarded by sinkMutex; empty means the system log

void SystemLog(const std::string& line) {
    // The system log ends every entry itself.
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    syslog(LOG_USER | LOG_DEBUG, "%s", text.c_str());
}

}  // namespace

void Trace(const char* format, ...) {
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
    else
        SystemLog(line);
}

TraceSink SetTraceSink(TraceSink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    TraceSink previous = std::move(installedSink);
    installedSink = std::move(sink);
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
