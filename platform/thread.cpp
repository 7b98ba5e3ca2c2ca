#include "platform/thread.h"

#include <time.h>

#include <chrono>
#include <system_error>

namespace tavix {

WorkerThread::~WorkerThread() {
    if (handle.joinable()) handle.detach();
}

int WorkerThread::Start(Procedure procedure, void* argument) {
    if (procedure == nullptr || handle.joinable()) return -1;
    try {
        handle = std::thread(procedure, argument);
    } catch (const std::system_error&) {
        return -1;
    }
    return 0;
}

void WorkerThread::Join() {
    if (handle.joinable()) handle.join();
}

void SleepMs(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace tavix
