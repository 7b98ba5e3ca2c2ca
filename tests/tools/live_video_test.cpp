// The simulator's live video: its containers byte by byte, its picture after a real encode and
// decode (libavcodec's H.264 decoder, apart from the client's), the camera's steps, and the
// stream as it leaves the simulator.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "client/device_session.h"
#include "demux/stream_demuxer.h"
#include "tests/client/session_rig.h"
#include "tests/tools/sim_process.h"
#include "tools/sim/bitmap_font.h"
#include "tools/sim/camera_view.h"
#include "tools/sim/checksummed_packet_writer.h"
#include "tools/sim/live_video_source.h"
#include "tools/sim/private_packet_writer.h"
#include "tools/sim/program_stream_writer.h"
#include "tools/sim/sequenced_packet_writer.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/test_pattern.h"
#include "tools/sim/video_encoder.h"
#include "video/frame_stamp.h"

namespace tavix {
namespace {

using namespace tavix::sim;

uint32_t Le(const Bytes& b, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | b.at(at + static_cast<size_t>(i));
    return value;
}

bool StartCodeAt(const Bytes& b, size_t at, uint8_t code) {
    return at + 4 <= b.size() && b[at] == 0 && b[at + 1] == 0 && b[at + 2] == 1 &&
           b[at + 3] == code;
}

// Offsets of every 00 00 01 xx in `b` (xx any byte).
std::vector<size_t> StartCodes(const Bytes& b) {
    std::vector<size_t> found;
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) found.push_back(i);
    return found;
}

VideoFrame Frame(const Bytes& payload, bool key, uint32_t number = 0) {
    VideoFrame frame;
    frame.data = payload.data();
    frame.size = payload.size();
    frame.key = key;
    frame.width = 352;
    frame.height = 288;
    frame.frameRate = 25;
    frame.frameNumber = number;
    frame.time = {2026, 12, 7, 5, 51, 38};
    return frame;
}

// 0xAA bytes hold no start code, so every one found belongs to the container.
const Bytes kPayload(100, 0xAA);

TEST(ContainerWriters, PackedTimeHoldsEachPartInItsBits) {
    uint32_t packed = PackedTime({2026, 12, 7, 5, 51, 38});
    EXPECT_EQ(38u, packed & 0x3F);
    EXPECT_EQ(51u, packed >> 6 & 0x3F);
    EXPECT_EQ(5u, packed >> 12 & 0x1F);
    EXPECT_EQ(7u, packed >> 17 & 0x1F);
    EXPECT_EQ(12u, packed >> 22 & 0x0F);
    EXPECT_EQ(26u, packed >> 26);
}

TEST(ContainerWriters, PrivatePacketsKeyThenDependentWithACounterThatWraps) {
    PrivatePacketWriter writer;
    Bytes out;
    writer.Write(Frame(kPayload, true), out);
    ASSERT_EQ(16 + 100u, out.size());
    EXPECT_TRUE(StartCodeAt(out, 0, 0xFD));
    EXPECT_EQ(25, out[5] & 0x1F);  // frame rate
    EXPECT_EQ(44, out[6]);         // 352 / 8
    EXPECT_EQ(36, out[7]);         // 288 / 8
    EXPECT_EQ(PackedTime({2026, 12, 7, 5, 51, 38}), Le(out, 8, 4));
    EXPECT_EQ(100u, Le(out, 12, 3));
    EXPECT_EQ(0, out[15]);
    EXPECT_EQ(kPayload, Bytes(out.begin() + 16, out.end()));

    out.clear();
    writer.Write(Frame(kPayload, false), out);
    ASSERT_EQ(8 + 100u, out.size());
    EXPECT_TRUE(StartCodeAt(out, 0, 0xFC));
    EXPECT_EQ(100u, Le(out, 4, 3));
    EXPECT_EQ(1, out[7]);

    // The counter runs 0..255 and starts again at 0.
    for (int i = 2; i < 256; ++i)
        writer.Write(Frame(kPayload, false), out);
    out.clear();
    writer.Write(Frame(kPayload, false), out);
    EXPECT_EQ(0, out[7]);
}

TEST(ContainerWriters, ChecksummedPacketsCarryExtensionChecksumAndTrailer) {
    ChecksummedPacketWriter writer;
    Bytes out;
    writer.Write(Frame(kPayload, true), out);
    const size_t length = 24 + 8 + 100 + 8;
    ASSERT_EQ(length, out.size());
    EXPECT_EQ(Bytes({'Z', 'Q', 'M', 'F'}), Bytes(out.begin(), out.begin() + 4));
    EXPECT_EQ(0xFD, out[4]);
    EXPECT_EQ(1u, Le(out, 8, 4));  // sequence
    EXPECT_EQ(length, Le(out, 12, 4));
    EXPECT_EQ(PackedTime({2026, 12, 7, 5, 51, 38}), Le(out, 16, 4));
    EXPECT_EQ(8, out[22]);  // extension length
    unsigned sum = 35;
    for (size_t i = 4; i < 23; ++i)
        sum += out[i];
    EXPECT_EQ(sum % 256, out[23]);
    // 80 xx 2C 24 81 xx 08 19: 352 x 288, H.264, 25 frames per second.
    EXPECT_EQ(0x80, out[24]);
    EXPECT_EQ(0x2C, out[26]);
    EXPECT_EQ(0x24, out[27]);
    EXPECT_EQ(0x81, out[28]);
    EXPECT_EQ(0x08, out[30]);
    EXPECT_EQ(0x19, out[31]);
    EXPECT_EQ(kPayload, Bytes(out.begin() + 32, out.begin() + 132));
    EXPECT_EQ(Bytes(8, 0), Bytes(out.begin() + 132, out.end()));

    out.clear();
    writer.Write(Frame(kPayload, false), out);
    ASSERT_EQ(24 + 100 + 8u, out.size());
    EXPECT_EQ(0xFC, out[4]);
    EXPECT_EQ(2u, Le(out, 8, 4));
    EXPECT_EQ(0, out[22]);
    EXPECT_EQ(ChecksummedHeaderSum(&out[4]), out[23]);
}

TEST(ContainerWriters, ProgramStreamKeyPackHoldsSizeCodeAndRateAtItsFixedPlaces) {
    ProgramStreamWriter writer;
    Bytes out;
    writer.Write(Frame(kPayload, true, 0), out);
    EXPECT_TRUE(StartCodeAt(out, 0, 0xBA));
    EXPECT_EQ(0x44, out[4] & 0xC4);  // MPEG-2 pack: '01' and a marker bit
    EXPECT_TRUE(StartCodeAt(out, 14, 0xBB));
    EXPECT_TRUE(StartCodeAt(out, 29, 0xBC));
    // 3 = 352 x 288, 80 bytes behind the start code, and only there.
    EXPECT_EQ(3, out[84]);
    EXPECT_EQ(25, out[85]);
    EXPECT_EQ(0xFF, out[80]);
    EXPECT_EQ(0xFF, out[81]);
    // The map ends with its CRC: the CRC over the map including it is 0.
    size_t mapLength = 6 + (out[33] << 8 | out[34]);
    EXPECT_EQ(0u, MpegCrc32(&out[29], mapLength));
    size_t pes = 29 + mapLength;
    ASSERT_TRUE(StartCodeAt(out, pes, 0xE0));
    EXPECT_EQ(100u + 8, static_cast<size_t>(out[pes + 4] << 8 | out[pes + 5]));
    EXPECT_EQ(5, out[pes + 8]);  // PES header data: the PTS
    EXPECT_EQ(kPayload, Bytes(out.begin() + static_cast<ptrdiff_t>(pes + 14), out.end()));
    // Only the container's own start codes: pack, system header, map, PES.
    EXPECT_EQ((std::vector<size_t>{0, 14, 29, pes}), StartCodes(out));

    out.clear();
    writer.Write(Frame(kPayload, false, 25), out);
    ASSERT_EQ(14 + 14 + 100u, out.size());
    EXPECT_TRUE(StartCodeAt(out, 0, 0xBA));
    EXPECT_TRUE(StartCodeAt(out, 14, 0xE0));
    // PTS of frame 25: one second after the first, 90000 + 90000 at 90 kHz.
    uint64_t pts = uint64_t{static_cast<uint8_t>(out[23] >> 1 & 7)} << 30 |
                   uint64_t{out[24]} << 22 | uint64_t{static_cast<uint8_t>(out[25] >> 1)} << 15 |
                   uint64_t{out[26]} << 7 | (out[27] >> 1);
    EXPECT_EQ(180000u, pts);
}

// The PES packets of a program stream: each one's length field, payload and whether a pack
// header came before it.
struct Pes {
    size_t length;
    Bytes payload;
    bool afterPack;
};
std::vector<Pes> PesPackets(const Bytes& b) {
    std::vector<Pes> found;
    bool pack = false;
    for (size_t at = 0; at + 9 <= b.size();) {
        if (StartCodeAt(b, at, 0xBA)) {
            pack = true;
            at += 14;
        } else if (StartCodeAt(b, at, 0xBB) || StartCodeAt(b, at, 0xBC)) {
            at += 6 + (b[at + 4] << 8 | b[at + 5]);
        } else if (StartCodeAt(b, at, 0xE0)) {
            size_t length = b[at + 4] << 8 | b[at + 5];
            size_t payload = at + 9 + b[at + 8];
            found.push_back({length,
                             Bytes(b.begin() + static_cast<ptrdiff_t>(payload),
                                   b.begin() + static_cast<ptrdiff_t>(at + 6 + length)),
                             pack});
            pack = false;
            at += 6 + length;
        } else {
            ADD_FAILURE() << "no start code at " << at;
            break;
        }
    }
    return found;
}

bool IsMiddle(size_t length) {
    return length == 65510 || length == 65512 || length == 65522;
}

TEST(ContainerWriters, ProgramStreamSplitsLargeFramesAsTheDeviceDoes) {
    const size_t first = 65532 - 8;
    // Sizes: one whole PES packet; one whose PES length would read as "continued"; split with
    // a middle piece; split where the rest would have a middle piece's length (twice).
    for (size_t size : {size_t{65527}, first, first + 65510 + 100, first + 65510,
                        first + 65510 + 65512, size_t{200000}}) {
        SCOPED_TRACE(size);
        Bytes frame(size);
        for (size_t i = 0; i < size; ++i)
            frame[i] = static_cast<uint8_t>(0x80 | (i * 7 % 97));  // no start code inside
        ProgramStreamWriter writer;
        Bytes out;
        writer.Write(Frame(frame, true), out);
        std::vector<Pes> packets = PesPackets(out);
        ASSERT_FALSE(packets.empty());
        Bytes joined;
        for (const Pes& pes : packets)
            joined.insert(joined.end(), pes.payload.begin(), pes.payload.end());
        EXPECT_EQ(frame, joined);
        EXPECT_TRUE(packets[0].afterPack);
        bool split = packets.size() > 1;
        EXPECT_EQ(split, packets[0].length == 65532);
        for (size_t i = 1; i < packets.size(); ++i) {
            EXPECT_FALSE(packets[i].afterPack) << i;  // straight on from the previous packet
            EXPECT_EQ(i + 1 < packets.size(), IsMiddle(packets[i].payload.size())) << i;
        }
    }
}

TEST(ContainerWriters, SequencedPacketsSliceTheStreamIntoNumberedPiecesOf1024Bytes) {
    SequencedPacketWriter writer;
    Bytes stream;
    Bytes out;
    for (size_t size : {size_t{700}, size_t{1500}, size_t{100}, size_t{2048}}) {
        const Bytes picture(size, static_cast<uint8_t>(size));
        stream.insert(stream.end(), picture.begin(), picture.end());
        writer.Write(Frame(picture, size == 700), out);
    }
    // 4348 bytes: four slices; the last 252 wait for the next picture.
    ASSERT_EQ(4 * 1040u, out.size());
    for (size_t at = 0, i = 0; at < out.size(); at += 1040, ++i) {
        EXPECT_TRUE(StartCodeAt(out, at, 0xF2));
        EXPECT_EQ(25 << 3, out[at + 5]);
        EXPECT_EQ(22u << 3 | 18u << 9, Le(out, at + 6, 2));  // 352 / 16, 288 / 16
        EXPECT_EQ(i + 1, Le(out, at + 12, 4));
        EXPECT_EQ(Bytes(stream.begin() + i * 1024, stream.begin() + i * 1024 + 1024),
                  Bytes(out.begin() + at + 16, out.begin() + at + 1040));
    }
}

TEST(ContainerWriters, ProgramStreamStatesOnlyTheSizesOfItsCodes) {
    EXPECT_EQ(3, ProgramStreamSizeCode(352, 288));
    EXPECT_EQ(7, ProgramStreamSizeCode(480, 480));
    EXPECT_EQ(13, ProgramStreamSizeCode(1600, 1200));
    EXPECT_EQ(-1, ProgramStreamSizeCode(1920, 1080));
}

// ---- the camera

struct ViewCase {
    std::vector<int> codes;
    double left;
    double top;
    int zoom;
    int focus;
    int iris;
};

TEST(CameraViewTest, EachCommandMovesOneStepAndTheViewStaysInTheScene) {
    const ViewCase cases[] = {
        {{}, 1.0, 1.0, 0, 0, 0},
        {{kPtzRight}, 1.125, 1.0, 0, 0, 0},
        {{kPtzLeft, kPtzLeft, kPtzUp}, 0.75, 0.875, 0, 0, 0},
        {{kPtzDown, kPtzRight, kPtzLeft}, 1.0, 1.125, 0, 0, 0},
        // Eight steps reach the scene's edge; a ninth changes nothing.
        {std::vector<int>(9, kPtzRight), 2.0, 1.0, 0, 0, 0},
        {std::vector<int>(9, kPtzUp), 1.0, 0.0, 0, 0, 0},
        // Zooming keeps the centre: 0.8 of the size, around (1.5, 1.5).
        {{kPtzZoomIn}, 1.1, 1.1, 1, 0, 0},
        {std::vector<int>(10, kPtzZoomIn), 1.5 - std::pow(0.8, 6) / 2, 1.5 - std::pow(0.8, 6) / 2,
         6, 0, 0},
        {std::vector<int>(10, kPtzZoomOut), 1.5 - std::pow(0.8, -4) / 2,
         1.5 - std::pow(0.8, -4) / 2, -4, 0, 0},
        {{kPtzFocusPlus, kPtzFocusPlus, kPtzIrisClose}, 1.0, 1.0, 0, 2, -1},
        {std::vector<int>(7, kPtzFocusMinus), 1.0, 1.0, 0, -5, 0},
        {std::vector<int>(7, kPtzIrisOpen), 1.0, 1.0, 0, 0, 5},
        // Wire code 6 is never sent and 11 does not exist: nothing moves.
        {{6, 11, -1}, 1.0, 1.0, 0, 0, 0},
    };
    for (const ViewCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.codes));
        CameraView view;
        for (int code : c.codes)
            view.Apply(code);
        EXPECT_NEAR(c.left, view.Left(), 1e-9);
        EXPECT_NEAR(c.top, view.Top(), 1e-9);
        EXPECT_EQ(c.zoom, view.Zoom());
        EXPECT_EQ(c.focus, view.Focus());
        EXPECT_EQ(c.iris, view.Iris());
    }
}

// ---- the picture

struct Rgb32 {
    int r;
    int g;
    int b;
};

// A decoded or drawn picture read the way the client's 32-bit conversion reads it.
struct Picture {
    int width = 0;
    int height = 0;
    Bytes y, u, v;

    static Picture FromFrame(const YuvFrame& f) { return {f.width, f.height, f.y, f.u, f.v}; }

    Rgb32 At(int x, int yy) const {
        int luma = y[static_cast<size_t>(yy * width + x)] - 16;
        int cu = u[static_cast<size_t>(yy / 2 * (width / 2) + x / 2)] - 128;
        int cv = v[static_cast<size_t>(yy / 2 * (width / 2) + x / 2)] - 128;
        auto clamp = [](double value) { return static_cast<int>(std::clamp(value, 0.0, 255.0)); };
        return {clamp(1.164 * luma + 1.596 * cv), clamp(1.164 * luma - 0.391 * cu - 0.813 * cv),
                clamp(1.164 * luma + 2.018 * cu)};
    }
    // Mean colour of the square of side 2r + 1 around (x, y).
    Rgb32 Mean(int x, int yy, int r = 3) const {
        Rgb32 sum{0, 0, 0};
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx) {
                Rgb32 c = At(x + dx, yy + dy);
                sum.r += c.r;
                sum.g += c.g;
                sum.b += c.b;
            }
        int n = (2 * r + 1) * (2 * r + 1);
        return {sum.r / n, sum.g / n, sum.b / n};
    }
    int Luma(int x, int yy) const { return y[static_cast<size_t>(yy * width + x)]; }
};

::testing::AssertionResult Near(const Rgb& want, const Rgb32& got, int tolerance) {
    if (std::abs(want.r - got.r) <= tolerance && std::abs(want.g - got.g) <= tolerance &&
        std::abs(want.b - got.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "want " << int{want.r} << "," << int{want.g} << "," << int{want.b} << " got " << got.r
           << "," << got.g << "," << got.b;
}

// The known regions of the default view: bar i's centre, grey step i's centre.
void ExpectDefaultLayout(const Picture& p, int tolerance) {
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE("column " + std::to_string(i));
        int x = (2 * i + 1) * p.width / 16;
        EXPECT_TRUE(
            Near(kBarColours[static_cast<size_t>(i)], p.Mean(x, 3 * p.height / 8), tolerance));
        uint8_t grey = kGreySteps[static_cast<size_t>(i)];
        // The stamp covers the bottom-left corner: read the steps above it.
        EXPECT_TRUE(Near({grey, grey, grey}, p.Mean(x, 25 * p.height / 32), tolerance));
    }
}

class LibavDecoder {
  public:
    explicit LibavDecoder(AVCodecID id = AV_CODEC_ID_H264) {
        const AVCodec* codec = avcodec_find_decoder(id);
        context = avcodec_alloc_context3(codec);
        context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        avcodec_open2(context, codec, nullptr);
        frame = av_frame_alloc();
        packet = av_packet_alloc();
    }
    ~LibavDecoder() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
    // The picture out of this access unit; false when none came out of it.
    bool Decode(const Bytes& unit, Picture& out) {
        packet->data = const_cast<uint8_t*>(unit.data());
        packet->size = static_cast<int>(unit.size());
        if (avcodec_send_packet(context, packet) < 0) return false;
        if (avcodec_receive_frame(context, frame) != 0) return false;
        out.width = frame->width;
        out.height = frame->height;
        out.y.resize(static_cast<size_t>(out.width * out.height));
        out.u.resize(static_cast<size_t>(out.width / 2 * (out.height / 2)));
        out.v.resize(out.u.size());
        for (int row = 0; row < out.height; ++row)
            std::copy_n(frame->data[0] + row * frame->linesize[0], out.width,
                        &out.y[static_cast<size_t>(row * out.width)]);
        for (int row = 0; row < out.height / 2; ++row) {
            std::copy_n(frame->data[1] + row * frame->linesize[1], out.width / 2,
                        &out.u[static_cast<size_t>(row * (out.width / 2))]);
            std::copy_n(frame->data[2] + row * frame->linesize[2], out.width / 2,
                        &out.v[static_cast<size_t>(row * (out.width / 2))]);
        }
        av_frame_unref(frame);
        return true;
    }

  private:
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
};

TEST(TestPatternPicture, DefaultViewShowsBarsStepsNameAndStamp) {
    TestPattern pattern(352, 288, "Cam 7");
    YuvFrame frame;
    pattern.Render(CameraView(), {123, 4567}, "12:34:56", frame);
    Picture p = Picture::FromFrame(frame);
    // Drawn, not yet encoded: only the grain and the integer conversion stand between.
    ExpectDefaultLayout(p, 10);
    FrameStamp stamp;
    ASSERT_TRUE(ReadStamp(
        352, 288, [&](int x, int y) { return p.Luma(x, y); }, stamp));
    EXPECT_EQ(123u, stamp.frameNumber);
    EXPECT_EQ(4567u, stamp.captureMs);
    // The name's box is black behind white glyph pixels, top left; "C" has its left column set.
    int s = pattern.TextScale();
    EXPECT_EQ(16, p.Luma(s, s));
    EXPECT_EQ(235, p.Luma(2 * s, 3 * 2 * s + s));
}

TEST(TestPatternPicture, NamesInOtherScriptsAreDrawnAsOneBoxPerCharacter) {
    EXPECT_EQ(U"A\u5927\u5385!", DecodeUtf8("A大厅!"));
    // Each malformed byte stands for one character: a cut-off sequence shows as many boxes.
    EXPECT_EQ(U"\uFFFDb\uFFFD\uFFFD", DecodeUtf8("\xC3"
                                                 "b\xE5\xA4"));
    const Glyph& box = GlyphFor(U'\u5927');
    EXPECT_EQ(box, GlyphFor(U'\u00E7'));
    EXPECT_EQ(0x7F, box[0]);
    EXPECT_NE(box, GlyphFor(U'A'));
}

struct SteerCase {
    std::vector<int> codes;
    const char* what;
};

TEST(TestPatternPicture, PtzStepsChangeThePictureAsTheCameraWould) {
    TestPattern pattern(352, 288, "x");
    auto render = [&](const std::vector<int>& codes) {
        CameraView view;
        for (int code : codes)
            view.Apply(code);
        YuvFrame frame;
        pattern.Render(view, {0, 0}, "", frame);
        return Picture::FromFrame(frame);
    };
    const int barY = 3 * 288 / 8;
    Picture still = render({});

    // One step right: the bars move left by one bar; bar 1 (yellow) stands where bar 0 stood.
    Picture right = render({kPtzRight});
    EXPECT_TRUE(Near(kBarColours[1], right.Mean(22, barY), 10));
    EXPECT_TRUE(Near(kBarColours[7], right.Mean(22 + 6 * 44, barY), 10));
    // One step left: bar 0 moves right and the western panel shows at the left edge.
    Picture left = render({kPtzLeft});
    EXPECT_TRUE(Near(kBarColours[0], left.Mean(22 + 44, barY), 10));
    EXPECT_FALSE(Near(kBarColours[0], left.Mean(22, barY), 40));
    // One step down: the bars rise by an eighth of the picture, into the dark band's place.
    Picture down = render({kPtzDown});
    EXPECT_TRUE(Near(kBarColours[2], down.Mean(110, 30), 10));
    EXPECT_FALSE(Near(kBarColours[2], still.Mean(110, 30), 40));
    // Zoom in (to 0.64 of the view) keeps the centre: the green bar, right of the centre's
    // left, grows over where cyan stood.
    Picture zoomed = render({kPtzZoomIn, kPtzZoomIn});
    EXPECT_TRUE(Near(kBarColours[2], still.Mean(120, barY), 10));
    EXPECT_TRUE(Near(kBarColours[3], zoomed.Mean(120, barY), 10));
    EXPECT_TRUE(Near(kBarColours[4], zoomed.Mean(180, barY), 10));
    // Iris: the mid grey band brightens when opened, darkens when closed.
    int band = 11 * 288 / 16;
    auto luma = [&](const Picture& p) { return (p.Mean(300, band).r + p.Mean(300, band).g) / 2; };
    EXPECT_GT(luma(render({kPtzIrisOpen})), luma(still) + 10);
    EXPECT_LT(luma(render({kPtzIrisClose})), luma(still) - 10);
    // Focus: the sharp edge between the white and yellow bars becomes a ramp.
    Picture blurred = render({kPtzFocusPlus, kPtzFocusPlus});
    auto edgeJump = [&](const Picture& p) {
        Rgb32 a = p.Mean(43, barY, 0);
        Rgb32 b = p.Mean(45, barY, 0);
        return std::abs(a.b - b.b);
    };
    EXPECT_GT(edgeJump(still), 150);
    EXPECT_LT(edgeJump(blurred), 100);
    // The on-screen text and stamp stay put whatever the camera does.
    for (const Picture& p : {right, zoomed, blurred}) {
        FrameStamp stamp;
        EXPECT_TRUE(ReadStamp(
            352, 288, [&](int x, int y) { return p.Luma(x, y); }, stamp));
    }
}

struct EncodeCase {
    int width;
    int height;
    VideoCodec codec = VideoCodec::kH264;
};

TEST(LiveEncoding, BaselineOneKeyFramePerSecondAndThePatternSurvivesDecoding) {
    for (EncodeCase c : {EncodeCase{352, 288}, EncodeCase{1920, 1080}, EncodeCase{160, 120},
                         EncodeCase{352, 288, VideoCodec::kMpeg4}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " +
                     CodecName(c.codec));
        const bool h264 = c.codec == VideoCodec::kH264;
        std::unique_ptr<VideoEncoder> encoder = MakeVideoEncoder(c.codec);
        std::string error;
        ASSERT_TRUE(encoder->Open(
            {c.width, c.height, 25, LiveBitRateKbit(c.width, c.height), 200000}, error))
            << error;
        TestPattern pattern(c.width, c.height, "Gate");
        LibavDecoder decoder(h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
        YuvFrame frame;
        Bytes unit;
        std::vector<int> keys;
        const int frames = c.width > 1000 ? 27 : 52;
        for (int n = 0; n < frames; ++n) {
            pattern.Render(CameraView(), {static_cast<uint32_t>(n), 1000u + 40 * n}, "00:00:00",
                           frame);
            bool key = false;
            ASSERT_TRUE(encoder->Encode(frame, n == 30, unit, key)) << n;
            if (key) {
                keys.push_back(n);
                // Parameter sets lead every key frame; the profile is baseline (66). MPEG-4:
                // the visual object sequence header.
                ASSERT_GE(unit.size(), 6u);
                static const uint8_t kSps[] = {0, 0, 1, 0x67};
                auto sps = std::search(unit.begin(), unit.end(), std::begin(kSps), std::end(kSps));
                if (h264) {
                    ASSERT_NE(unit.end(), sps) << n;
                    EXPECT_EQ(66, sps[4]);
                }
                EXPECT_TRUE(h264 || StartCodeAt(unit, 0, 0xB0)) << n;
            }
            // No B-frames and no delay: each picture comes out of its own access unit.
            Picture decoded;
            ASSERT_TRUE(decoder.Decode(unit, decoded)) << n;
            FrameStamp stamp;
            ASSERT_TRUE(ReadStamp(
                decoded.width, decoded.height, [&](int x, int y) { return decoded.Luma(x, y); },
                stamp))
                << n;
            EXPECT_EQ(static_cast<uint32_t>(n), stamp.frameNumber);
            EXPECT_EQ(1000u + 40 * n, stamp.captureMs);
            if (n == frames - 1) ExpectDefaultLayout(decoded, 24);
        }
        std::vector<int> want = frames > 30 ? std::vector<int>{0, 25, 30} : std::vector<int>{0, 25};
        EXPECT_EQ(want, keys);
    }
}

TEST(LiveOptions, DemoChannelsUnlessMediaOrLiveVideoIsAsked) {
    auto parse = [](std::vector<const char*> arguments) {
        arguments.insert(arguments.begin(), "tavix-sim");
        SimOptions options;
        std::string error;
        EXPECT_TRUE(
            ParseSimOptions(static_cast<int>(arguments.size()), arguments.data(), options, error))
            << error;
        return options;
    };
    SimOptions demo = parse({});
    ASSERT_EQ(4u, demo.live.size());
    EXPECT_EQ(ContainerFormat::kPrivate, demo.live[0].format);
    EXPECT_EQ(ContainerFormat::kChecksummed, demo.live[1].format);
    EXPECT_EQ(ContainerFormat::kProgramStream, demo.live[2].format);
    EXPECT_EQ(VideoCodec::kMpeg4, demo.live[2].codec);
    EXPECT_EQ(1280, demo.live[3].width);

    SimOptions one = parse({"--format", "2=ps", "--size", "2=704x576", "--bitrate", "2=900"});
    ASSERT_EQ(1u, one.live.size());
    EXPECT_EQ(ContainerFormat::kProgramStream, one.live[2].format);
    EXPECT_EQ(704, one.live[2].width);
    EXPECT_EQ(576, one.live[2].height);
    EXPECT_EQ(900, one.live[2].bitRateKbit);

    EXPECT_TRUE(parse({"--media", "0=/etc/hostname"}).live.empty());
    EXPECT_EQ(284, LiveBitRateKbit(352, 288));
    EXPECT_EQ(1928, LiveBitRateKbit(1920, 1080));

    // Sub streams: CIF, or the main's size when that is smaller, in the main's container.
    SimOptions subs = parse({"--size", "0=1920x1080", "--size", "1=320x240", "--size",
                             "2=1920x1080", "--sub-size", "2=704x576", "--sub-bitrate", "2=500",
                             "--format", "0=checksummed", "--no-sub", "1"});
    const LiveChannel zero = subs.SubStreamOf(0, subs.live[0]);
    EXPECT_EQ(
        std::make_tuple(352, 288, 0, 2, ContainerFormat::kChecksummed),
        std::make_tuple(zero.width, zero.height, zero.bitRateKbit, zero.streamType, zero.format));
    EXPECT_EQ(320, subs.SubStreamOf(1, subs.live[1]).width);
    EXPECT_EQ(704, subs.SubStreamOf(2, subs.live[2]).width);
    EXPECT_EQ(500, subs.SubStreamOf(2, subs.live[2]).bitRateKbit);
    EXPECT_TRUE(subs.ServesSub(0));
    EXPECT_FALSE(subs.ServesSub(1));
    EXPECT_FALSE(parse({"--no-sub", "all"}).ServesSub(0));
    // all= gives every channel without a value of its own, whenever --channels comes.
    SimOptions wall = parse({"--size", "all=1920x1080", "--size", "1=704x576", "--channels", "3"});
    ASSERT_EQ(3u, wall.live.size());
    EXPECT_EQ(1920, wall.live[0].width);
    EXPECT_EQ(704, wall.live[1].width);
    EXPECT_EQ(1920, wall.live[2].width);
}

// ---- over the wire

struct WireCase {
    const char* format;
    Bytes keyMarker;  // what the stream begins with
    int formatType;   // what the client's demultiplexer recognises it as
};

// What channel 0 sends to a session that logs in and opens it: 1.2 s of it, and at least
// `minBytes` (a simulator under a sanitizer may be slower than real time).
Bytes ChannelZeroMedia(const SimProcess& sim, size_t minBytes = 0) {
    SessionRig rig;
    if (rig.Login(sim.Port()).code != 0) return {};
    rig.session.OpenStream(0, 1);
    int64_t start = MonotonicMs();
    rig.StepUntil(
        [&] { return MonotonicMs() - start >= 1200 && rig.listener.Media(0).size() >= minBytes; },
        20000);
    return rig.listener.Media(0);
}

TEST(LiveWire, EachFormatStreamsTwentyFiveFramesASecondFromAKeyFrame) {
    const WireCase cases[] = {
        {"private", {0x00, 0x00, 0x01, 0xFD}, kFormatPrivate},
        {"checksummed", {'Z', 'Q', 'M', 'F', 0xFD}, kFormatChecksummed},
        {"ps", {0x00, 0x00, 0x01, 0xBA}, kFormatProgramStream},
    };
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.format);
        SimProcess sim({"--format", std::string("0=") + c.format});
        Bytes media = ChannelZeroMedia(sim);
        ASSERT_GE(media.size(), c.keyMarker.size());
        EXPECT_EQ(c.keyMarker, Bytes(media.begin(), media.begin() + c.keyMarker.size()));
        // Frames in 1.2 s: one packet each (the picture of 352 x 288 fits one PES packet).
        size_t packets = 0;
        for (size_t i = 0; i + 5 <= media.size(); ++i) {
            bool privatePacket = StartCodeAt(media, i, 0xFD) || StartCodeAt(media, i, 0xFC);
            bool checksummed = media[i] == 'Z' && media[i + 1] == 'Q' && media[i + 2] == 'M' &&
                               media[i + 3] == 'F';
            bool pes = StartCodeAt(media, i, 0xE0);
            if (privatePacket || checksummed || pes) ++packets;
        }
        // (Fewer when a sanitizer slows the simulator's drawing down.)
        EXPECT_GE(packets, 20u);
        EXPECT_LE(packets, 33u);

        // The client's demultiplexer recognises the container and cuts whole H.264 frames,
        // key frames with size and rate (fed in the session's 2048-byte pieces).
        auto demuxer = StreamDemuxer::Create();
        ASSERT_TRUE(demuxer);
        size_t frames = 0;
        size_t keyFrames = 0;
        for (size_t at = 0; at < media.size(); at += 2048) {
            demuxer->Feed(&media[at], static_cast<int>(std::min<size_t>(2048, media.size() - at)));
            while (FrameInfo* frame = demuxer->NextFrame()) {
                if (frame->kind != kKindVideo) continue;
                ++frames;
                EXPECT_GT(frame->payloadLength, 0) << "damaged frame " << frames;
                EXPECT_EQ(kCodecH264, frame->codec);
                if (frame->dependent != 0) continue;
                ++keyFrames;
                EXPECT_EQ(352, frame->width);
                EXPECT_EQ(288, frame->height);
                EXPECT_EQ(25, frame->frameRate);
            }
        }
        EXPECT_EQ(c.formatType, demuxer->FormatType());
        EXPECT_GE(frames + 1, packets);
        EXPECT_GE(keyFrames, 1u);
        auto live = sim.WaitFor([](const SimLine& l) { return l.Is("event", "live"); });
        ASSERT_TRUE(live);
        EXPECT_EQ(c.format, live->Get("format"));
        EXPECT_EQ(352, live->Number("width"));
    }
}

TEST(LiveWire, ProgramStreamFramesLargerThanOnePesPacketArriveWhole) {
    // At this rate a key frame is about twice the largest PES payload (at 3 Mbit/s it was
    // barely above it, and below on a loaded machine).
    SimProcess sim({"--format", "0=ps", "--size", "0=1600x1200", "--bitrate", "0=12000"});
    Bytes media = ChannelZeroMedia(sim, 400000);

    auto demuxer = StreamDemuxer::Create();
    LibavDecoder decoder;
    size_t frames = 0;
    size_t largest = 0;
    for (size_t at = 0; at < media.size(); at += 2048) {
        demuxer->Feed(&media[at], static_cast<int>(std::min<size_t>(2048, media.size() - at)));
        while (FrameInfo* frame = demuxer->NextFrame()) {
            if (frame->kind != kKindVideo) continue;
            ASSERT_GT(frame->payloadLength, 0) << "frame " << frames;
            largest = std::max(largest, static_cast<size_t>(frame->payloadLength));
            Picture picture;
            ASSERT_TRUE(decoder.Decode(Bytes(frame->payload, frame->payload + frame->payloadLength),
                                       picture))
                << "frame " << frames;
            EXPECT_EQ(1600, picture.width);
            ++frames;
        }
    }
    // The key frame and a picture that refers to it (a sanitized simulator on a busy machine
    // makes few in the time).
    EXPECT_GE(frames, 2u);
    EXPECT_GT(largest, ProgramStreamWriter::kMaxPesPayload);
}

TEST(LiveWire, ReplayedChannelLoopsWithoutStampUntilSteered) {
    SimProcess sim({"--replay", "0"});
    SessionRig rig;
    ASSERT_EQ(0, rig.Login(sim.Port()).code);
    rig.session.OpenStream(0, 1);
    auto demuxer = StreamDemuxer::Create();
    LibavDecoder decoder;
    std::vector<Bytes> frames;
    std::vector<bool> stamped;
    std::vector<bool> keys;
    size_t fed = 0;
    // Cuts and decodes what has come so far; true once `count` frames are there.
    auto framesCome = [&](size_t count) {
        Bytes media = rig.listener.Media(0);
        for (; fed < media.size(); fed += std::min<size_t>(2048, media.size() - fed)) {
            demuxer->Feed(&media[fed],
                          static_cast<int>(std::min<size_t>(2048, media.size() - fed)));
            while (FrameInfo* frame = demuxer->NextFrame()) {
                if (frame->kind != kKindVideo) continue;
                frames.emplace_back(frame->payload, frame->payload + frame->payloadLength);
                keys.push_back(frame->dependent == 0);
                Picture picture;
                FrameStamp stamp;
                EXPECT_TRUE(decoder.Decode(frames.back(), picture)) << frames.size();
                stamped.push_back(ReadStamp(
                    picture.width, picture.height, [&](int x, int y) { return picture.Luma(x, y); },
                    stamp));
            }
        }
        return frames.size() >= count;
    };
    // Past the end of the 100-frame loop: its start again, the same bytes, and no stamp.
    ASSERT_TRUE(rig.StepUntil([&] { return framesCome(LiveVideoSource::kLoopFrames + 5); }, 30000));
    EXPECT_EQ(frames[0], frames[LiveVideoSource::kLoopFrames]);
    EXPECT_EQ(0, std::count(stamped.begin(), stamped.end(), true));

    // Steered, it is encoded live from a key frame on, stamped.
    rig.session.Ptz(0, 3, 0);
    size_t steeredAt = frames.size();
    ASSERT_TRUE(rig.StepUntil([&] { return framesCome(steeredAt + 25); }, 30000));
    auto firstLive = std::find(stamped.begin(), stamped.end(), true) - stamped.begin();
    ASSERT_LT(firstLive, static_cast<ptrdiff_t>(frames.size()));
    EXPECT_TRUE(keys[static_cast<size_t>(firstLive)]);
    EXPECT_EQ(frames.size() - static_cast<size_t>(firstLive),
              static_cast<size_t>(std::count(stamped.begin(), stamped.end(), true)));
}

}  // namespace
}  // namespace tavix
