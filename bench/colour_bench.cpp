// Colour conversion per routine and picture size, each implementation beside libswscale turning
// the same picture into the same format in the same run. items_per_second counts pixels.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <random>
#include <string>
#include <vector>

#include "video/colour_conversion.h"

namespace tavix {
namespace {

struct Picture {
    int width;
    int height;
    std::vector<uint8_t> yuv;  // Y, U, V, rows packed
    const uint8_t* Y() const { return yuv.data(); }
    const uint8_t* U() const { return yuv.data() + width * height; }
    const uint8_t* V() const { return U() + width * height / 4; }
};

Picture MakePicture(int width, int height) {
    // Smooth content with some noise, like a camera picture; the routines do not branch on it.
    Picture p{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3 / 2)};
    std::mt19937 random(width);
    for (size_t i = 0; i < p.yuv.size(); ++i)
        p.yuv[i] = static_cast<uint8_t>((i * 7 / 5 + random() % 24) & 0xFF);
    return p;
}

enum class Routine { k565, k24, k32 };

void Ours(benchmark::State& state, const ColourConverter* converter, Routine routine,
          const Picture& p) {
    std::vector<uint8_t> out(static_cast<size_t>(p.width) * p.height * 4);
    for (auto _ : state) {
        // As the decoder calls them: the table routines bottom row first.
        if (routine == Routine::k565)
            ConvertTo565(*converter, p.width, p.height, p.Y(), out.data());
        else if (routine == Routine::k24)
            ConvertTo24(*converter, out.data(), p.width, p.Y(), p.U(), p.V(), p.width, p.width / 2,
                        p.width, -p.height);
        else
            ConvertTo32(*converter, out.data(), p.width, p.Y(), p.U(), p.V(), p.width, p.width / 2,
                        p.width, -p.height);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * p.width * p.height);
}

void Swscale(benchmark::State& state, Routine routine, const Picture& p) {
    const AVPixelFormat format = routine == Routine::k565  ? AV_PIX_FMT_RGB565LE
                                 : routine == Routine::k24 ? AV_PIX_FMT_BGR24
                                                           : AV_PIX_FMT_BGRA;
    const int bytes = routine == Routine::k565 ? 2 : routine == Routine::k24 ? 3 : 4;
    SwsContext* context = sws_getContext(p.width, p.height, AV_PIX_FMT_YUV420P, p.width, p.height,
                                         format, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (context == nullptr) {
        state.SkipWithError("sws_getContext failed");
        return;
    }
    std::vector<uint8_t> out(static_cast<size_t>(p.width) * p.height * 4);
    const uint8_t* source[3] = {p.Y(), p.U(), p.V()};
    const int sourceStrides[3] = {p.width, p.width / 2, p.width / 2};
    uint8_t* destination[1] = {out.data()};
    const int destinationStrides[1] = {p.width * bytes};
    for (auto _ : state) {
        sws_scale(context, source, sourceStrides, 0, p.height, destination, destinationStrides);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * p.width * p.height);
    sws_freeContext(context);
}

}  // namespace
}  // namespace tavix

int main(int argc, char** argv) {
    using namespace tavix;
    static const Picture pictures[] = {MakePicture(352, 288), MakePicture(1920, 1080)};
    const std::pair<Routine, const char*> routines[] = {{Routine::k565, "ConvertTo565"},
                                                        {Routine::k24, "ConvertTo24"},
                                                        {Routine::k32, "ConvertTo32"}};
    for (const Picture& p : pictures) {
        const std::string size = std::to_string(p.width) + "x" + std::to_string(p.height);
        for (const auto& [routine, name] : routines) {
            for (const ColourConverter* c : AvailableConverters())
                benchmark::RegisterBenchmark(
                    (std::string(name) + "/" + size + "/" + c->name).c_str(), Ours, c, routine, p);
            benchmark::RegisterBenchmark((std::string(name) + "/" + size + "/swscale").c_str(),
                                         Swscale, routine, p);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
