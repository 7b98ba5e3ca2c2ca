// What tavix-sim spends on live video. A frame of 352x288: the test pattern drawn, and drawn and
// encoded as H.264. And the simulator process serving 16 such channels to one client, live-
// encoded (true frame stamps) and replayed (--replay all), as CPU per cent of one core; the
// client is a bare session in this process that takes the media in and drops it.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "client/device_session.h"
#include "platform/thread.h"
#include "tests/tools/sim_process.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/test_pattern.h"
#include "tools/sim/video_encoder.h"

namespace tavix {
namespace {

using namespace tavix::sim;

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr int kChannels = 16;
// Replayed channels encode their first 4 s live; the measurement begins after them.
constexpr int kWarmUpMs = 5000;
constexpr int kMeasureMs = 5000;

void BM_DrawFrame(benchmark::State& state) {
    TestPattern pattern(kWidth, kHeight, "Camera 1");
    YuvFrame picture;
    uint32_t frame = 0;
    for (auto _ : state) {
        pattern.Render(CameraView(), {frame, frame * 40}, "12:00:00", picture);
        ++frame;
    }
}
BENCHMARK(BM_DrawFrame)->Unit(benchmark::kMicrosecond);

void BM_DrawAndEncodeFrame(benchmark::State& state) {
    TestPattern pattern(kWidth, kHeight, "Camera 1");
    std::unique_ptr<VideoEncoder> encoder = MakeVideoEncoder(VideoCodec::kH264);
    std::string error;
    int bitRate = LiveBitRateKbit(kWidth, kHeight);
    if (!encoder->Open({kWidth, kHeight, 25, bitRate, bitRate * 125}, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    YuvFrame picture;
    std::vector<uint8_t> encoded;
    bool key = false;
    uint32_t frame = 0;
    for (auto _ : state) {
        pattern.Render(CameraView(), {frame, frame * 40}, "12:00:00", picture);
        encoder->Encode(picture, false, encoded, key);
        ++frame;
    }
}
BENCHMARK(BM_DrawAndEncodeFrame)->Unit(benchmark::kMicrosecond);

// User and system time of a process in ms; -1 when it cannot be read.
int64_t ProcessCpuMs(pid_t pid) {
    std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (stat == nullptr) return -1;
    unsigned long user = 0;
    unsigned long system = 0;
    // Fields 14 and 15 (after the process name in parentheses, which holds no spaces here).
    int read = std::fscanf(stat, "%*d %*s %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                           &user, &system);
    std::fclose(stat);
    return read == 2 ? static_cast<int64_t>(user + system) * 1000 / sysconf(_SC_CLK_TCK) : -1;
}

class Dropping : public IDeviceEvents {
  public:
    void OnLoginResult(int code, int) override { login = code; }
    void OnChannelList(int, const ChannelNameList*) override {}
    void OnMediaData(int, const uint8_t*, int length) override { bytes += length; }
    void OnStreamResult(int, int code) override { failedStreams += code != 0; }
    void OnDisconnected(int, int) override { disconnected = true; }
    int login = -1;
    int failedStreams = 0;
    bool disconnected = false;
    int64_t bytes = 0;
};

void BM_SimulatorSixteenCifChannels(benchmark::State& state) {
    const bool replay = state.range(0) != 0;
    std::vector<std::string> arguments = {"--channels", std::to_string(kChannels)};
    for (int channel = 0; channel < kChannels; ++channel)
        arguments.insert(arguments.end(), {"--size", std::to_string(channel) + "=352x288"});
    if (replay) arguments.insert(arguments.end(), {"--replay", "all"});
    SimProcess sim(arguments);
    Dropping events;
    DeviceSession session(events);
    session.Login("127.0.0.1", sim.Port(), "admin", "702914", 10000);
    if (events.login != 0) {
        state.SkipWithError("login failed");
        return;
    }
    for (int channel = 0; channel < kChannels; ++channel)
        session.OpenStream(channel, 1);
    auto stepFor = [&](int ms) {
        for (int64_t end = MonotonicMs() + ms; MonotonicMs() < end && !events.disconnected;) {
            if (session.Step() == kResultReceiveStep) session.WaitForWork(end - MonotonicMs());
        }
    };
    stepFor(kWarmUpMs);
    for (auto _ : state) {
        int64_t cpuAtStart = ProcessCpuMs(sim.Pid());
        int64_t bytesAtStart = events.bytes;
        int64_t start = MonotonicMs();
        stepFor(kMeasureMs);
        double seconds = static_cast<double>(MonotonicMs() - start) / 1000;
        state.counters["simCpuPercentOfOneCore"] =
            static_cast<double>(ProcessCpuMs(sim.Pid()) - cpuAtStart) / seconds / 10;
        state.counters["mediaKiBPerSecond"] =
            static_cast<double>(events.bytes - bytesAtStart) / 1024 / seconds;
    }
    if (events.failedStreams > 0 || events.disconnected) state.SkipWithError("a channel failed");
}
BENCHMARK(BM_SimulatorSixteenCifChannels)
    ->ArgName("replay")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tavix

BENCHMARK_MAIN();
