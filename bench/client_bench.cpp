// How many media bytes a second the client takes in from a device that sends as fast as the
// socket lets it (tavix-sim in this process, a file looped with no pace): the facade's client
// thread as it is, beside the pacing it replaced (after one idle pass, a 10 ms rest after every
// pass). Both keep the session's 1 ms pause per pass and its 2048-byte media buffer.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "client/device_client.h"
#include "platform/thread.h"
#include "tools/sim/json_line.h"
#include "tools/sim/sim_server.h"

namespace tavix {
namespace {

constexpr int kMeasureMs = 2000;

// A simulator on an ephemeral loopback port, its one channel looping random bytes.
class InProcessDevice {
  public:
    InProcessDevice() {
        // The simulator's lines would mix with the benchmark's table.
        quiet = std::fopen("/dev/null", "w");
        sim::SetJsonLineOutput(quiet);
        path = "/tmp/tavix_client_bench_" + std::to_string(getpid());
        std::ofstream out(path, std::ios::binary);
        std::mt19937 random(1);
        for (int i = 0; i < 4 << 20; ++i)
            out.put(static_cast<char>(random()));
        out.close();
        sim::SimOptions options;
        options.port = 0;
        options.channels = 1;
        options.media[0] = path;
        options.rate = 0;
        server = std::make_unique<sim::SimServer>(options);
        if (server->Listen()) thread = std::thread([this] { server->Run(); });
    }
    ~InProcessDevice() {
        server->Stop();
        if (thread.joinable()) thread.join();
        std::remove(path.c_str());
        sim::SetJsonLineOutput(nullptr);
        if (quiet != nullptr) std::fclose(quiet);
    }
    int Port() const { return server->Port(); }

  private:
    std::FILE* quiet = nullptr;
    std::string path;
    std::unique_ptr<sim::SimServer> server;
    std::thread thread;
};

class Counting : public IDeviceEvents {
  public:
    void OnLoginResult(int code, int) override { login.store(code); }
    void OnChannelList(int, const ChannelNameList*) override {}
    void OnMediaData(int, const uint8_t*, int length) override { bytes.fetch_add(length); }
    void OnStreamResult(int, int code) override { stream.store(code); }
    void OnDisconnected(int, int) override {}
    std::atomic<int> login{-1};
    std::atomic<int> stream{-1};
    std::atomic<int64_t> bytes{0};
};

void Report(benchmark::State& state, int64_t bytes, int64_t ms) {
    state.counters["KB/s"] = static_cast<double>(bytes) / static_cast<double>(ms);
}

// The client thread as the facade runs it.
void BM_FacadeIntake(benchmark::State& state) {
    InProcessDevice device;
    DeviceClient client;
    Counting sink;
    client.SetEventSink(&sink);
    client.Login("127.0.0.1", device.Port(), "admin", "702914", 5000);
    client.OpenChannel(0, 1);
    while (sink.stream.load() != 0)
        SleepMs(1);
    SleepMs(500);
    for (auto _ : state) {
        int64_t from = client.MediaBytes();
        int64_t start = MonotonicMs();
        SleepMs(kMeasureMs);
        Report(state, client.MediaBytes() - from, MonotonicMs() - start);
    }
}
BENCHMARK(BM_FacadeIntake)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The replaced pacing, on a bare session: once a pass has been idle, every pass rests 10 ms.
void BM_LatchedIdleIntake(benchmark::State& state) {
    InProcessDevice device;
    Counting listener;
    DeviceSession session(listener);
    session.Login("127.0.0.1", device.Port(), "admin", "702914", 5000);
    session.OpenStream(0, 1);
    bool idle = true;  // before the login the client thread always is
    auto pass = [&] {
        if (session.Step() == kResultReceiveStep) idle = true;
        if (idle) SleepMs(10);
    };
    for (int64_t until = MonotonicMs() + 500; MonotonicMs() < until;)
        pass();
    for (auto _ : state) {
        int64_t from = listener.bytes.load();
        int64_t start = MonotonicMs();
        while (MonotonicMs() - start < kMeasureMs)
            pass();
        Report(state, listener.bytes.load() - from, MonotonicMs() - start);
    }
}
BENCHMARK(BM_LatchedIdleIntake)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tavix

BENCHMARK_MAIN();
