#include "video/colour_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/h264_decoder.h"
#include "tests/video/test_h264.h"
#include "video/picture_scaler.h"

namespace tavix {
namespace {

// The formulas written out once more, per pixel and without tables, as the expectation.
uint8_t Clamp(int value) {
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

uint16_t Formula565(int y, int u, int v) {
    const int c = y * 256;
    const int r = Clamp((c + 359 * (v - 128)) >> 8);
    const int g = Clamp((c - 183 * (v - 128) - 88 * (u - 128)) >> 8);
    const int b = Clamp((c + 454 * (u - 128)) >> 8);
    return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
}

void FormulaBgr(int y, int u, int v, uint8_t* bgr) {
    const int luma = 9535 * (y - 16);
    bgr[0] = Clamp((luma + 16531 * (u - 128)) >> 13);
    bgr[1] = Clamp((luma - 3203 * (u - 128) - 6660 * (v - 128)) >> 13);
    bgr[2] = Clamp((luma + 13074 * (v - 128)) >> 13);
}

// A picture in the decoder's layout: Y, then U and V of (width / 2) x (height / 2), rows packed.
struct Planes {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> yuv;
    const uint8_t* Y() const { return yuv.data(); }
    const uint8_t* U() const { return yuv.data() + width * height; }
    const uint8_t* V() const { return U() + width * height / 4; }
    int Luma(int x, int row) const { return Y()[row * width + x]; }
    int ChromaU(int x, int row) const { return U()[row * (width / 2) + x]; }
    int ChromaV(int x, int row) const { return V()[row * (width / 2) + x]; }
};

// Random samples, with the extremes often enough to reach every clamp.
Planes RandomPlanes(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Planes p;
    p.width = width;
    p.height = height;
    p.yuv.resize(static_cast<size_t>(width) * height * 3 / 2);
    for (uint8_t& b : p.yuv) {
        const unsigned r = random() % 300;
        b = static_cast<uint8_t>(r < 256 ? r : r < 278 ? 0 : 255);
    }
    return p;
}

Planes UniformPlanes(int width, int height, int y, int u, int v) {
    Planes p;
    p.width = width;
    p.height = height;
    p.yuv.assign(static_cast<size_t>(width) * height * 3 / 2, static_cast<uint8_t>(u));
    std::fill(p.yuv.begin(), p.yuv.begin() + width * height, static_cast<uint8_t>(y));
    std::fill(p.yuv.begin() + width * height + width * height / 4, p.yuv.end(),
              static_cast<uint8_t>(v));
    return p;
}

constexpr uint8_t kUntouched = 0xA5;

std::vector<uint8_t> Expected565(const Planes& p) {
    std::vector<uint8_t> out(static_cast<size_t>(p.width) * p.height * 2 + 16, kUntouched);
    if (p.width < 2 || p.height < 2) return out;
    for (int row = 0; row < p.height; ++row) {
        for (int x = 0; x < p.width; ++x) {
            // The odd last column and row borrow the last chroma sample and row.
            const int cx = std::min(x / 2, p.width / 2 - 1);
            const int cy = std::min(row / 2, p.height / 2 - 1);
            const uint16_t pixel = Formula565(p.Luma(x, row), p.ChromaU(cx, cy), p.ChromaV(cx, cy));
            out[(row * p.width + x) * 2] = static_cast<uint8_t>(pixel);
            out[(row * p.width + x) * 2 + 1] = static_cast<uint8_t>(pixel >> 8);
        }
    }
    return out;
}

// Table routines: 2 x 2 blocks only; a negative height turns the picture upside down.
std::vector<uint8_t> ExpectedTable(const Planes& p, int bytes, int destinationWidth, int height) {
    const int rows = std::abs(height);
    std::vector<uint8_t> out(static_cast<size_t>(destinationWidth) * rows * bytes + 16, kUntouched);
    for (int r = 0; r < rows / 2 * 2; ++r) {
        const int source = height > 0 ? r : rows - 1 - r;
        const int chromaRow = height > 0 ? r / 2 : rows / 2 - 1 - r / 2;
        for (int x = 0; x < p.width / 2 * 2; ++x) {
            uint8_t* d = &out[(static_cast<size_t>(r) * destinationWidth + x) * bytes];
            FormulaBgr(p.Luma(x, source), p.ChromaU(x / 2, chromaRow), p.ChromaV(x / 2, chromaRow),
                       d);
            if (bytes == 4) d[3] = 255;
        }
    }
    return out;
}

std::vector<uint8_t> Run565(const ColourConverter& c, const Planes& p) {
    std::vector<uint8_t> out(static_cast<size_t>(p.width) * p.height * 2 + 16, kUntouched);
    ConvertTo565(c, p.width, p.height, p.Y(), out.data());
    return out;
}

std::vector<uint8_t> RunTable(const ColourConverter& c, const Planes& p, int bytes,
                              int destinationWidth, int height) {
    std::vector<uint8_t> out(static_cast<size_t>(destinationWidth) * std::abs(height) * bytes + 16,
                             kUntouched);
    if (bytes == 3)
        ConvertTo24(c, out.data(), destinationWidth, p.Y(), p.U(), p.V(), p.width, p.width / 2,
                    p.width, height);
    else
        ConvertTo32(c, out.data(), destinationWidth, p.Y(), p.U(), p.V(), p.width, p.width / 2,
                    p.width, height);
    return out;
}

std::string Where(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& actual) {
    if (expected.size() != actual.size()) return "sizes differ";
    for (size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != actual[i])
            return "first difference at byte " + std::to_string(i) + ": expected " +
                   std::to_string(expected[i]) + ", got " + std::to_string(actual[i]);
    return "";
}

TEST(ColourConversionTest, WorkedExamples) {
    struct Case {
        int y, u, v;
        uint16_t pixel565;
        uint8_t bgr[3];
    } cases[] = {
        {255, 128, 128, 0xFFFF, {255, 255, 255}}, {0, 128, 128, 0x0000, {0, 0, 0}},
        {128, 128, 255, 0xF930, {130, 27, 255}},  {16, 128, 128, 0x1082, {0, 0, 0}},
        {235, 128, 128, 0xEF5D, {254, 254, 254}},  // 219 x 9535 >> 13 = 254
    };
    for (const ColourConverter* c : AvailableConverters()) {
        for (const Case& k : cases) {
            // Wide enough for the vector kernels, with a tail for the plain one.
            const Planes p = UniformPlanes(36, 2, k.y, k.u, k.v);
            const std::vector<uint8_t> out565 = Run565(*c, p);
            const std::vector<uint8_t> out32 = RunTable(*c, p, 4, 36, -2);
            const std::vector<uint8_t> out24 = RunTable(*c, p, 3, 36, 2);
            for (int i = 0; i < 72; ++i) {
                SCOPED_TRACE(std::string(c->name) + " y=" + std::to_string(k.y) +
                             " u=" + std::to_string(k.u) + " v=" + std::to_string(k.v) +
                             " pixel=" + std::to_string(i));
                EXPECT_EQ(k.pixel565, out565[2 * i] | out565[2 * i + 1] << 8);
                const uint8_t bgra[4] = {k.bgr[0], k.bgr[1], k.bgr[2], 255};
                EXPECT_EQ(0, std::memcmp(bgra, &out32[4 * i], 4));
                EXPECT_EQ(0, std::memcmp(k.bgr, &out24[3 * i], 3));
            }
        }
    }
}

TEST(ColourConversionTest, NegativeHeightWritesTheLastSourceRowFirst) {
    // Source row 0 black, row 1 white: the 24-bit routine with height -2 writes white first.
    Planes p = UniformPlanes(2, 2, 16, 128, 128);
    p.yuv[2] = p.yuv[3] = 235;
    for (const ColourConverter* c : AvailableConverters()) {
        const std::vector<uint8_t> out = RunTable(*c, p, 3, 2, -2);
        const std::vector<uint8_t> top(out.begin(), out.begin() + 6);
        const std::vector<uint8_t> bottom(out.begin() + 6, out.begin() + 12);
        EXPECT_EQ(std::vector<uint8_t>(6, 254), top) << c->name;
        EXPECT_EQ(std::vector<uint8_t>(6, 0), bottom) << c->name;
    }
}

TEST(ColourConversionTest, A176By144PictureFillsExactly176By144By2Bytes) {
    const Planes p = RandomPlanes(176, 144, 7);
    for (const ColourConverter* c : AvailableConverters()) {
        const std::vector<uint8_t> out = Run565(*c, p);
        EXPECT_EQ(std::vector<uint8_t>(16, kUntouched),
                  std::vector<uint8_t>(out.end() - 16, out.end()))
            << c->name;
        EXPECT_NE(kUntouched, out[176 * 144 * 2 - 1]) << c->name;
    }
}

// Every implementation against the formulas on random planes, odd sizes and padded destination
// rows included; bytes outside the converted pixels stay untouched.
TEST(ColourConversionTest, EveryImplementationMatchesTheFormulasOnRandomPlanes) {
    struct Size {
        int width, height;
    } sizes[] = {{1, 1},  {2, 2},   {3, 5},  {5, 3},  {2, 33},    {16, 2},    {17, 4},   {33, 7},
                 {34, 6}, {46, 10}, {50, 4}, {64, 9}, {176, 144}, {351, 287}, {352, 288}};
    unsigned seed = 1;
    for (const ColourConverter* c : AvailableConverters()) {
        for (const Size& s : sizes) {
            const Planes p = RandomPlanes(s.width, s.height, seed++);
            SCOPED_TRACE(std::string(c->name) + " " + std::to_string(s.width) + "x" +
                         std::to_string(s.height));
            EXPECT_EQ("", Where(Expected565(p), Run565(*c, p)));
            for (int bytes : {3, 4}) {
                for (int height : {s.height, -s.height}) {
                    for (int destinationWidth : {s.width, s.width + 3}) {
                        SCOPED_TRACE("bytes " + std::to_string(bytes) + " height " +
                                     std::to_string(height) + " destinationWidth " +
                                     std::to_string(destinationWidth));
                        EXPECT_EQ("", Where(ExpectedTable(p, bytes, destinationWidth, height),
                                            RunTable(*c, p, bytes, destinationWidth, height)));
                    }
                }
            }
        }
    }
}

// Real pictures: decoded from libx264's output, converted at every depth by every
// implementation, the table routines bottom row first as the decoder calls them.
TEST(ColourConversionTest, EveryImplementationMatchesTheFormulasOnDecodedPictures) {
    const auto frames = test::EncodeH264Frames(352, 288, 4);
    H264_Dec_Init(0);
    const int32_t size[2] = {352, 288};
    H264Handle handle = H264_Dec_Open(size);
    ASSERT_NE(nullptr, handle);
    Planes p;
    p.width = 352;
    p.height = 288;
    p.yuv.resize(352 * 288 * 3 / 2);
    for (const auto& frame : frames) {
        const H264DecodeInput input{
            frame.bytes.data(), static_cast<int32_t>(frame.bytes.size()), {1, 1, 0, 0}};
        H264DecodeOutput output{p.yuv.data(), p.yuv.data() + 352 * 288,
                                p.yuv.data() + 352 * 288 * 5 / 4, 0, 0};
        ASSERT_EQ(0, H264_Dec_Decode(handle, &input, &output, 0));
        for (const ColourConverter* c : AvailableConverters()) {
            SCOPED_TRACE(c->name);
            EXPECT_EQ("", Where(Expected565(p), Run565(*c, p)));
            EXPECT_EQ("", Where(ExpectedTable(p, 3, 352, -288), RunTable(*c, p, 3, 352, -288)));
            EXPECT_EQ("", Where(ExpectedTable(p, 4, 352, -288), RunTable(*c, p, 4, 352, -288)));
        }
    }
    H264_Dec_Close(handle);
    H264_Dec_DeInit();
}

TEST(ColourConversionTest, TheFastestImplementationIsTheDefault) {
    const Planes p = RandomPlanes(64, 8, 99);
    std::vector<uint8_t> out(64 * 8 * 2 + 16, kUntouched);
    ConvertTo565(64, 8, p.Y(), out.data());
    EXPECT_EQ(Expected565(p), out);
    std::vector<uint8_t> out32(64 * 8 * 4 + 16, kUntouched);
    ConvertTo32(out32.data(), 64, p.Y(), p.U(), p.V(), 64, 32, 64, -8);
    EXPECT_EQ(ExpectedTable(p, 4, 64, -8), out32);
    std::vector<uint8_t> out24(64 * 8 * 3 + 16, kUntouched);
    ConvertTo24(out24.data(), 64, p.Y(), p.U(), p.V(), 64, 32, 64, 8);
    EXPECT_EQ(ExpectedTable(p, 3, 64, 8), out24);
}

TEST(ColourConversionTest, RefusesADestinationNarrowerThanThePicture) {
    const Planes p = RandomPlanes(8, 4, 5);
    std::vector<uint8_t> out(8 * 4 * 4, kUntouched);
    ConvertTo32(out.data(), 7, p.Y(), p.U(), p.V(), 8, 4, 8, 4);
    EXPECT_EQ(std::vector<uint8_t>(8 * 4 * 4, kUntouched), out);
}

TEST(PictureScalerTest, EachPixelTakesTheNearestSourcePixelAtEverySizeAndDepth) {
    // 22 x 14, in padded rows, to itself, halved, enlarged and to odd sides (used rounded down
    // to even ones): every output pixel is the formula at its nearest source pixel, chroma
    // from the first pixel of its column pair and the first row of its row pair.
    const Planes p = RandomPlanes(22, 14, 9);
    const PictureView view{p.Y(), p.U(), p.V(), 22, 11, 22, 14};
    const auto nearest = [](int i, int to, int from) {
        return std::min(from - 1, (2 * i + 1) * from / (2 * to));
    };
    struct Case {
        int width, height, bits;
    };
    for (const Case c : {Case{22, 14, 32}, Case{11, 7, 32}, Case{44, 28, 24}, Case{9, 13, 32}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const int stride = c.width * c.bits / 8 + 8;
        std::vector<uint8_t> out(static_cast<size_t>(stride) * c.height, kUntouched);
        PictureScaler scaler;
        ASSERT_TRUE(scaler.Convert(view, {out.data(), c.width, c.height, stride, c.bits}));
        const int w = c.width & ~1;
        const int h = c.height & ~1;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const uint8_t* got = &out[static_cast<size_t>(y) * stride + x * c.bits / 8];
                if (x >= w || y >= h) {
                    EXPECT_EQ(kUntouched, got[0]) << x << "," << y;
                    continue;
                }
                const int cx = nearest(x & ~1, w, 22) / 2;
                const int cy = nearest(y & ~1, h, 14) / 2;
                uint8_t want[3];
                FormulaBgr(p.Luma(nearest(x, w, 22), nearest(y, h, 14)), p.ChromaU(cx, cy),
                           p.ChromaV(cx, cy), want);
                ASSERT_EQ(0, std::memcmp(want, got, 3)) << x << "," << y;
            }
        }
    }
    PictureScaler scaler;
    std::vector<uint8_t> out(64 * 4, kUntouched);
    EXPECT_FALSE(scaler.Convert(view, {out.data(), 8, 8, 8 * 4 - 1, 32})) << "rows too short";
    EXPECT_FALSE(scaler.Convert(view, {out.data(), 8, 8, 8 * 4, 8})) << "no such depth";
    EXPECT_FALSE(scaler.Convert(view, {out.data(), 1, 8, 8 * 4, 32})) << "narrower than 2";
    EXPECT_EQ(std::vector<uint8_t>(64 * 4, kUntouched), out);
}

TEST(PictureScalerTest, ACropStaysInsideThePictureOnEvenPixels) {
    const Planes p = RandomPlanes(22, 14, 9);
    const PictureView view{p.Y(), p.U(), p.V(), 22, 11, 22, 14};
    struct Case {
        int x, y, width, height;  // asked for
        int left, top, w, h;      // given
    } cases[] = {
        {5, 3, 8, 6, 4, 2, 8, 6},        // odd corner: the even one before
        {20, 12, 8, 6, 14, 8, 8, 6},     // past the edge: moved inside
        {-9, -9, 99, 99, 0, 0, 22, 14},  // larger than the picture: all of it
        {3, 3, 1, 1, 2, 2, 2, 2},        // smaller than 2 x 2
        {0, 0, 0, 0, 0, 0, 22, 14},      // none: all of it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        const PictureView part = CropPicture(view, c.x, c.y, c.width, c.height);
        EXPECT_EQ(view.y + c.top * 22 + c.left, part.y);
        EXPECT_EQ(view.u + c.top / 2 * 11 + c.left / 2, part.u);
        EXPECT_EQ(view.v + c.top / 2 * 11 + c.left / 2, part.v);
        EXPECT_EQ(c.w, part.width);
        EXPECT_EQ(c.h, part.height);
    }
}

}  // namespace
}  // namespace tavix
