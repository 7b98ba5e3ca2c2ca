// How fast the client takes in media from a device that sends as fast as the socket lets it:
// tavix-sim in a process of its own looping a file of random bytes with no pace, the facade in
// this one. Reports the intake in Mbit/s and the CPU time this process spent per MB taken in
// (the client thread, and the decoder's demultiplexing of what it was given); and what an idle
// logged-in client costs.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "client/device_client.h"
#include "platform/thread.h"
#include "tests/tools/sim_process.h"

namespace tavix {
namespace {

constexpr int kMeasureMs = 3000;

int64_t ProcessCpuUs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

class Counting : public IDeviceEvents {
  public:
    void OnLoginResult(int code, int) override { login.store(code); }
    void OnChannelList(int, const ChannelNameList*) override {}
    void OnStreamResult(int, int code) override { stream.store(code); }
    void OnDisconnected(int, int) override {}
    std::atomic<int> login{-1};
    std::atomic<int> stream{-1};
};

void BM_FacadeIntake(benchmark::State& state) {
    const std::string path = "/tmp/tavix_client_bench_" + std::to_string(getpid());
    {
        std::ofstream out(path, std::ios::binary);
        std::mt19937 random(1);
        for (int i = 0; i < 4 << 20; ++i)
            out.put(static_cast<char>(random()));
    }
    SimProcess sim({"--channels", "1", "--media", "0=" + path, "--rate", "0", "--chunk",
                    std::to_string(state.range(0))});
    DeviceClient client;
    Counting sink;
    client.SetEventSink(&sink);
    client.Login("127.0.0.1", sim.Port(), "admin", "702914", 5000);
    client.OpenChannel(0, 1);
    for (int64_t until = MonotonicMs() + 5000; sink.stream.load() != 0 && MonotonicMs() < until;)
        SleepMs(1);
    SleepMs(500);
    for (auto _ : state) {
        const int64_t bytes = client.MediaBytes(0);
        const int64_t cpu = ProcessCpuUs();
        const int64_t start = MonotonicMs();
        SleepMs(kMeasureMs);
        const double seconds = static_cast<double>(MonotonicMs() - start) / 1000;
        const double megabytes = static_cast<double>(client.MediaBytes(0) - bytes) / 1e6;
        state.counters["Mbit/s"] = megabytes * 8 / seconds;
        state.counters["CPU ms/MB"] =
            megabytes > 0 ? static_cast<double>(ProcessCpuUs() - cpu) / 1000 / megabytes : 0;
    }
    client.CloseChannel(0);
    std::remove(path.c_str());
}
// The argument is the body size of the device's media messages.
BENCHMARK(BM_FacadeIntake)
    ->Arg(2048)
    ->Arg(65536)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A client logged in with nothing playing: the share of one core it uses (heartbeats, and the
// client thread waking to look at its timers).
void BM_IdleClient(benchmark::State& state) {
    SimProcess sim({"--channels", "4"});
    DeviceClient client;
    Counting sink;
    client.SetEventSink(&sink);
    client.Login("127.0.0.1", sim.Port(), "admin", "702914", 5000);
    for (int64_t until = MonotonicMs() + 5000; sink.login.load() != 0 && MonotonicMs() < until;)
        SleepMs(1);
    for (auto _ : state) {
        const int64_t cpu = ProcessCpuUs();
        const int64_t start = MonotonicMs();
        SleepMs(kMeasureMs);
        state.counters["CPU %"] = static_cast<double>(ProcessCpuUs() - cpu) / 10 /
                                  static_cast<double>(MonotonicMs() - start);
    }
}
BENCHMARK(BM_IdleClient)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tavix

BENCHMARK_MAIN();
