#include "video/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/bytes.h"
#include "platform/trace.h"
#include "tests/support/stream_writers.h"
#include "tests/video/test_h264.h"
#include "video/colour_conversion.h"
#include "video/decoding_pool.h"

namespace tavix {
namespace {

// A frame source for a container of the tests' own, so that the decoder can be driven with
// chosen frame headers: per frame "TVXF", payload length (LE32), width, height, frame rate
// (LE16 each), dependent, codec (one byte each), then the payload. Like the demultiplexer, it
// keeps bytes across chunks, lends frames until the next Feed and drops unfetched ones then.
class TestSource : public FrameSource {
  public:
    int Feed(const uint8_t* data, int length) override {
        ready.clear();
        next = 0;
        pending.insert(pending.end(), data, data + length);
        held.clear();
        size_t at = 0;
        while (pending.size() - at >= 16) {
            const uint32_t payloadLength = ReadLe32(&pending[at + 4]);
            if (pending.size() - at - 16 < payloadLength) break;
            held.emplace_back(pending.begin() + at + 16, pending.begin() + at + 16 + payloadLength);
            FrameInfo f{};
            f.kind = kKindVideo;
            f.payloadLength = static_cast<int32_t>(payloadLength);
            f.width = ReadLe16(&pending[at + 8]);
            f.height = ReadLe16(&pending[at + 10]);
            f.frameRate = ReadLe16(&pending[at + 12]);
            f.dependent = pending[at + 14];
            f.codec = pending[at + 15];
            ready.push_back(f);
            at += 16 + payloadLength;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(at));
        for (size_t i = 0; i < ready.size(); ++i)
            ready[i].payload = held[i].data();
        return 0;
    }
    FrameInfo* NextFrame() override { return next < ready.size() ? &ready[next++] : nullptr; }
    FrameInfo* NextKeyFrame() override {
        while (next < ready.size())
            if (ready[next++].dependent == 0) return &ready[next - 1];
        return nullptr;
    }
    int Reset(int, int) override {
        pending.clear();
        ready.clear();
        return 0;
    }

  private:
    std::vector<uint8_t> pending;
    std::vector<std::vector<uint8_t>> held;
    std::vector<FrameInfo> ready;
    size_t next = 0;
};

struct Header {
    int width = 176;
    int height = 144;
    int frameRate = 25;
    int codec = kCodecH264;
};

std::vector<uint8_t> Chunk(const test::CodedFrame& frame, const Header& h) {
    std::vector<uint8_t> chunk(16 + frame.bytes.size());
    std::memcpy(chunk.data(), "TVXF", 4);
    WriteLe32(&chunk[4], static_cast<uint32_t>(frame.bytes.size()));
    WriteLe16(&chunk[8], static_cast<uint16_t>(h.width));
    WriteLe16(&chunk[10], static_cast<uint16_t>(h.height));
    WriteLe16(&chunk[12], static_cast<uint16_t>(h.frameRate));
    chunk[14] = frame.key ? 0 : 1;
    chunk[15] = static_cast<uint8_t>(h.codec);
    std::copy(frame.bytes.begin(), frame.bytes.end(), chunk.begin() + 16);
    return chunk;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;
};

// Takes one picture as the live view does: get, copy, release.
bool TakePicture(CDecoder& decoder, Picture& out, int timeoutMs = 10000) {
    int status = kStatusBuffering;
    return WaitFor(
        [&] {
            const uint8_t* p = decoder.GetPicture(out.width, out.height, status);
            if (p == nullptr) return false;
            const int bits = decoder.DisplayBits();
            out.bytes.assign(p, p + out.width * out.height * (bits == 16 ? 2 : bits == 24 ? 3 : 4));
            decoder.ReleasePicture();
            return true;
        },
        timeoutMs);
}

// What the decoder should show: libavcodec's own pictures of the frames, converted the way the
// decoder calls the conversions, with the plain reference.
std::vector<Picture> Expected(const std::vector<test::CodedFrame>& frames, int width, int height,
                              int bits, bool h264 = true) {
    std::vector<Picture> out;
    for (const std::vector<uint8_t>& yuv : test::ReferenceDecode(frames, h264)) {
        Picture p{width, height, std::vector<uint8_t>(width * height * (bits / 8))};
        const uint8_t* y = yuv.data();
        if (bits == 16)
            ConvertTo565(PlainConverter(), width, height, y, p.bytes.data());
        else if (bits == 24)
            ConvertTo24(PlainConverter(), p.bytes.data(), width, y, y + width * height,
                        y + width * height * 5 / 4, width, width / 2, width, -height);
        else
            ConvertTo32(PlainConverter(), p.bytes.data(), width, y, y + width * height,
                        y + width * height * 5 / 4, width, width / 2, width, -height);
        out.push_back(std::move(p));
    }
    return out;
}

std::unique_ptr<CDecoder> NewDecoder(int bits = 32, std::function<int64_t()> clock = MonotonicMs) {
    auto decoder = std::make_unique<CDecoder>(std::make_unique<TestSource>(), std::move(clock));
    decoder->SetDisplayBits(bits);
    return decoder;
}

// Pushes a chunk and waits until the decoding thread has demultiplexed it (the queue empties
// when the chunk is taken, before its frames are queued).
bool PushAndSettle(CDecoder& decoder, const std::vector<uint8_t>& chunk) {
    if (decoder.PushData(chunk.data(), static_cast<int>(chunk.size())) != 1) return false;
    EXPECT_TRUE(WaitFor([&] { return decoder.Demultiplexed(); }));
    return true;
}

TEST(DecoderTest, GetPictureRightAfterStartIsNullWhileBuffering) {
    auto decoder = NewDecoder();
    decoder->Start();
    int width = -1, height = -1, status = kStatusPlaying;
    EXPECT_EQ(nullptr, decoder->GetPicture(width, height, status));
    EXPECT_EQ(kStatusBuffering, status);
    EXPECT_EQ(0, decoder->FrameRate());
}

TEST(DecoderTest, EveryFrameBecomesTheRightPictureAtEveryDepth) {
    const std::pair<int, int> cases[] = {{kCodecH264, 16},  {kCodecH264, 24},  {kCodecH264, 32},
                                         {kCodecMpeg4, 16}, {kCodecMpeg4, 24}, {kCodecMpeg4, 32}};
    for (const auto& [codec, bits] : cases) {
        const bool h264 = codec == kCodecH264;
        const auto frames =
            h264 ? test::EncodeH264Frames(176, 144, 14) : test::EncodeMpeg4Frames(176, 144, 14);
        SCOPED_TRACE(std::to_string(bits) + " bits, codec " + std::to_string(codec));
        const std::vector<Picture> expected = Expected(frames, 176, 144, bits, h264);
        ASSERT_EQ(frames.size(), expected.size());
        auto decoder = NewDecoder(bits);
        decoder->Start();
        for (const auto& frame : frames)
            ASSERT_EQ(1, decoder->PushData(Chunk(frame, {176, 144, 25, codec}).data(),
                                           Chunk(frame, {}).size()));
        for (size_t i = 0; i < expected.size(); ++i) {
            Picture p;
            ASSERT_TRUE(TakePicture(*decoder, p)) << "picture " << i;
            EXPECT_EQ(176, p.width);
            EXPECT_EQ(144, p.height);
            EXPECT_TRUE(p.bytes == expected[i].bytes) << "picture " << i;
        }
        EXPECT_EQ(25, decoder->FrameRate());
        EXPECT_TRUE(WaitFor([&] { return decoder->Drained(); }));
        decoder->Stop();
    }
}

TEST(DecoderTest, AudioInFrontOfTheKeyPictureDoesNotHideIt) {
    // The device's private packets, a block of audio before every picture, in chunks that hold
    // both: the demultiplexer hands the audio out first when asked for a key frame.
    const auto frames = test::EncodeH264Frames(176, 144, 6);
    std::vector<test::MediaUnit> units;
    for (size_t i = 0; i < frames.size(); ++i) {
        units.push_back({false, false, test::AudioBlock(320, static_cast<uint8_t>(i))});
        units.push_back({true, frames[i].key, frames[i].bytes});
    }
    const test::Bytes stream = test::WritePrivateStream(units, test::PictureInfo{});
    CDecoder decoder;  // the product's own demultiplexer
    decoder.SetDisplayBits(32);
    decoder.Start();
    for (size_t at = 0; at < stream.size(); at += 65536) {
        const int length = static_cast<int>(std::min<size_t>(65536, stream.size() - at));
        ASSERT_TRUE(WaitFor([&] { return decoder.TryPushData(stream.data() + at, length) == 1; }));
    }
    Picture first;
    ASSERT_TRUE(TakePicture(decoder, first)) << "the first key picture was passed over";
    EXPECT_TRUE(first.bytes == Expected(frames, 176, 144, 32)[0].bytes);
    decoder.Stop();
}

TEST(DecoderTest, DropsAtFiftyOneQueuedFramesAndMarksTheNextAcceptedChunk) {
    const auto frames = test::EncodeH264Frames(176, 144, 80, 60);
    auto decoder = NewDecoder();
    decoder->Start();
    // No picture is taken: the first is converted, the second decoded and waiting; the rest
    // queue up.
    size_t i = 0;
    while (i < frames.size() && !decoder->Dropping())
        ASSERT_TRUE(PushAndSettle(*decoder, Chunk(frames[i++], {})));
    EXPECT_EQ(53u, i);
    EXPECT_EQ(51, decoder->QueuedFrames());
    const auto refused = Chunk(frames[i], {});
    EXPECT_EQ(0, decoder->PushData(refused.data(), static_cast<int>(refused.size())));

    // Taking pictures drains the queue; chunks are refused until 2 frames remain. (Pushing is
    // the test: dropping may end between a look at Dropping() and a push.)
    Picture p;
    while (decoder->PushData(refused.data(), static_cast<int>(refused.size())) == 0)
        ASSERT_TRUE(TakePicture(*decoder, p));
    // The count is published once the frame taken from the queue is decoded.
    EXPECT_TRUE(WaitFor([&] { return decoder->QueuedFrames() <= 2; }));
    // The accepted chunk follows lost data: decoding waits for the next key frame.
    ASSERT_TRUE(WaitFor([&] { return decoder->Demultiplexed(); }));
    EXPECT_EQ(0, decoder->FrameRate());
    ++i;
    while (i < 60)
        ASSERT_TRUE(PushAndSettle(*decoder, Chunk(frames[i++], {})));
    EXPECT_EQ(0, decoder->FrameRate()) << "dependent frames are passed over";
    ASSERT_TRUE(PushAndSettle(*decoder, Chunk(frames[60], {})));  // key frame
    EXPECT_EQ(25, decoder->FrameRate());
}

TEST(DecoderTest, ATriedPushThatFindsNoRoomLosesNothing) {
    const auto frames = test::EncodeH264Frames(176, 144, 60, 60);
    auto decoder = NewDecoder();
    decoder->Start();
    size_t i = 0;
    while (!decoder->Dropping())
        ASSERT_TRUE(PushAndSettle(*decoder, Chunk(frames[i++], {})));
    const auto next = Chunk(frames[i], {});
    EXPECT_EQ(0, decoder->TryPushData(next.data(), static_cast<int>(next.size())));
    Picture p;
    while (decoder->Dropping())
        ASSERT_TRUE(TakePicture(*decoder, p));
    ASSERT_EQ(1, decoder->TryPushData(next.data(), static_cast<int>(next.size())));
    ASSERT_TRUE(WaitFor([&] { return decoder->QueuedBytes() == 0; }));
    EXPECT_EQ(25, decoder->FrameRate()) << "no discontinuity: decoding goes on";
}

TEST(DecoderTest, ALargerKeyFrameNeverReplacesThePictureTheDisplayHolds) {
    const auto small = test::EncodeH264Frames(176, 144, 1);
    const auto large = test::EncodeMpeg4Frames(352, 288, 3);
    auto decoder = NewDecoder();
    decoder->Start();
    ASSERT_TRUE(PushAndSettle(*decoder, Chunk(small[0], {})));
    int width = 0, height = 0, status = kStatusBuffering;
    const uint8_t* held = nullptr;
    ASSERT_TRUE(
        WaitFor([&] { return (held = decoder->GetPicture(width, height, status)) != nullptr; }));
    ASSERT_EQ(176, width);
    const std::vector<uint8_t> shown(held, held + 176 * 144 * 4);
    // With nothing pending, the decoder takes on the 352 x 288 key frame of another codec (a
    // larger buffer, the library reopened for it) while the display still shows its picture...
    const Header big{352, 288, 25, kCodecMpeg4};
    for (const auto& f : large)
        ASSERT_TRUE(PushAndSettle(*decoder, Chunk(f, big)));
    ASSERT_TRUE(WaitFor([&] { return decoder->QueuedFrames() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(std::equal(shown.begin(), shown.end(), held)) << "the held picture changed";
    EXPECT_EQ(held, decoder->GetPicture(width, height, status));
    EXPECT_EQ(176, width);
    EXPECT_EQ(144, height);
    decoder->ReleasePicture();
    // ...and the new size shows once it is given back.
    Picture p;
    ASSERT_TRUE(TakePicture(*decoder, p));
    EXPECT_EQ(352, p.width);
    EXPECT_EQ(288, p.height);
    EXPECT_TRUE(p.bytes == Expected(large, 352, 288, 32, false)[0].bytes);
}

TEST(DecoderTest, StopFreesQueuedChunksAndStartBeginsAfresh) {
    const auto frames = test::EncodeH264Frames(176, 144, 40);
    auto decoder = NewDecoder();
    TraceCapture trace;
    decoder->Start();
    for (const auto& f : frames)
        decoder->PushData(Chunk(f, {}).data(), Chunk(f, {}).size());
    decoder->Stop();
    EXPECT_EQ(std::vector<std::string>({"CDecoder::Stop  00\n", "CDecoder::Stop  11\n"}),
              trace.Lines());
    EXPECT_EQ(0, decoder->QueuedFrames());

    // Chunks still arriving between Stop and Start belong to the old stream.
    decoder->PushData(Chunk(frames[0], {}).data(), Chunk(frames[0], {}).size());
    decoder->Start();
    EXPECT_EQ(0, decoder->QueuedBytes());
    int width = 0, height = 0, status = kStatusPlaying;
    EXPECT_EQ(nullptr, decoder->GetPicture(width, height, status));
    EXPECT_EQ(kStatusBuffering, status);
    // Dependent frames are passed over until a key frame comes.
    for (size_t i = 1; i < 12; ++i)
        ASSERT_TRUE(PushAndSettle(*decoder, Chunk(frames[i], {})));
    EXPECT_EQ(0, decoder->FrameRate());
    ASSERT_TRUE(PushAndSettle(*decoder, Chunk(frames[12], {})));
    Picture p;
    EXPECT_TRUE(TakePicture(*decoder, p));
}

TEST(DecoderTest, BuffersAfterTheStreamRunsDryUntilFramesComeAgain) {
    const auto frames = test::EncodeH264Frames(176, 144, 40);
    int64_t now = 0;  // the display's clock
    auto decoder = NewDecoder(32, [&] { return now; });
    decoder->Start();
    for (size_t i = 0; i < 5; ++i)
        decoder->PushData(Chunk(frames[i], {}).data(), Chunk(frames[i], {}).size());
    Picture p;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(TakePicture(*decoder, p));
    ASSERT_TRUE(WaitFor([&] { return decoder->Drained(); }));
    int width = 0, height = 0, status = kStatusPlaying;
    now += CDecoder::kRunDryMs - 1;
    EXPECT_EQ(nullptr, decoder->GetPicture(width, height, status));
    EXPECT_EQ(kStatusPlaying, status) << "a gap shorter than running dry";
    now += 1;
    EXPECT_EQ(nullptr, decoder->GetPicture(width, height, status));
    EXPECT_EQ(kStatusBuffering, status);
    for (size_t i = 5; i < 40; ++i)
        decoder->PushData(Chunk(frames[i], {}).data(), Chunk(frames[i], {}).size());
    ASSERT_TRUE(WaitFor([&] {
        if (decoder->GetPicture(width, height, status) != nullptr) decoder->ReleasePicture();
        return status == kStatusPlaying;
    }));
}

TEST(DecoderTest, ALiveStreamSlowerThanTheTickKeepsPlaying) {
    // 25 pictures a second against a 33 ms tick: every few ticks find nothing new.
    const auto frames = test::EncodeH264Frames(176, 144, 12);
    int64_t now = 0;
    auto decoder = NewDecoder(32, [&] { return now; });
    decoder->Start();
    int width = 0, height = 0, status = kStatusBuffering;
    for (const auto& frame : frames) {
        decoder->PushData(Chunk(frame, {}).data(), Chunk(frame, {}).size());
        ASSERT_TRUE(WaitFor([&] {
            if (decoder->GetPicture(width, height, status) == nullptr) return false;
            decoder->ReleasePicture();
            return true;
        }));
        EXPECT_EQ(kStatusPlaying, status);
        ASSERT_TRUE(WaitFor([&] { return decoder->Drained(); }));
        for (int tick = 0; tick < 2; ++tick) {
            now += 33;
            EXPECT_EQ(nullptr, decoder->GetPicture(width, height, status));
            EXPECT_EQ(kStatusPlaying, status) << "no flicker to buffering between pictures";
        }
    }
}

TEST(DecoderTest, CorruptPayloadsAndLyingHeadersCostPicturesNotTheStream) {
    auto frames = test::EncodeH264Frames(176, 144, 24);
    const auto large = test::EncodeH264Frames(352, 288, 1);
    // A dependent frame turned to noise.
    for (size_t i = 8; i < frames[5].bytes.size(); ++i)
        frames[5].bytes[i] ^= static_cast<uint8_t>(i * 37);
    auto decoder = NewDecoder();
    decoder->Start();
    // A key frame whose header claims less than it holds: the picture would not fit, so none.
    ASSERT_TRUE(PushAndSettle(*decoder, Chunk(large[0], {})));
    // One whose header claims more: the picture is shown at its real size.
    const Header bigger{352, 288, 25, kCodecH264};
    ASSERT_TRUE(PushAndSettle(*decoder, Chunk(frames[0], bigger)));
    Picture p;
    ASSERT_TRUE(TakePicture(*decoder, p));
    EXPECT_EQ(176, p.width);
    EXPECT_EQ(144, p.height);
    EXPECT_TRUE(p.bytes == Expected({frames[0]}, 176, 144, 32)[0].bytes);
    // The corrupt frame costs at most the pictures up to the next key frame.
    for (size_t i = 1; i < frames.size(); ++i)
        decoder->PushData(Chunk(frames[i], {}).data(), Chunk(frames[i], {}).size());
    const auto expected = Expected(frames, 176, 144, 32);
    ASSERT_TRUE(TakePicture(*decoder, p));
    for (int n = 0; n < 30 && p.bytes != expected.back().bytes; ++n)
        ASSERT_TRUE(TakePicture(*decoder, p));
    EXPECT_TRUE(p.bytes == expected.back().bytes) << "decoding went on to the last frame";
}

TEST(DecoderTest, FramesOfOtherCodecsAreDropped) {
    const auto frames = test::EncodeH264Frames(176, 144, 3);
    auto decoder = NewDecoder();
    decoder->Start();
    const Header third{176, 144, 25, kCodecUnsupported};
    for (const auto& f : frames)
        ASSERT_TRUE(PushAndSettle(*decoder, Chunk(f, third)));
    ASSERT_TRUE(WaitFor([&] { return decoder->QueuedFrames() == 0; }));
    int width = 0, height = 0, status = kStatusPlaying;
    EXPECT_EQ(nullptr, decoder->GetPicture(width, height, status));
}

// Work counted in by wakers and out by its turns, a little at a time so that turns overlap
// the wakes.
class CountingJob : public DecodingPool::Job {
  public:
    bool RunTurn() override {
        running.store(true);
        const int taken = pending.exchange(0);
        done.fetch_add(taken);
        if (slow.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        running.store(false);
        return false;
    }
    std::atomic<int> pending{0};
    std::atomic<int> done{0};
    std::atomic<bool> running{false};
    std::atomic<bool> slow{false};
};

TEST(DecodingPoolTest, EveryWakeGetsATurnAndDetachWaitsForTheOneRunning) {
    DecodingPool pool(2);
    CountingJob jobs[3];
    for (CountingJob& job : jobs)
        ASSERT_TRUE(pool.Attach(job));
    // Two wakers: a wake that lands while its job runs must still give it another turn.
    constexpr int kWakes = 20000;
    auto wake = [&](int first) {
        for (int i = 0; i < kWakes; ++i) {
            CountingJob& job = jobs[(first + i) % 3];
            job.pending.fetch_add(1);
            pool.Wake(job);
        }
    };
    std::thread a(wake, 0);
    std::thread b(wake, 1);
    a.join();
    b.join();
    auto total = [&] { return jobs[0].done + jobs[1].done + jobs[2].done; };
    WaitFor([&] { return total() == 2 * kWakes; });
    EXPECT_EQ(2 * kWakes, total()) << "a wake was lost";

    jobs[0].slow = true;
    jobs[0].pending.fetch_add(1);
    pool.Wake(jobs[0]);
    while (!jobs[0].running && jobs[0].pending != 0)
        std::this_thread::yield();
    pool.Detach(jobs[0]);
    EXPECT_FALSE(jobs[0].running) << "Detach returned during a turn";
    pool.Wake(jobs[0]);  // detached: ignored
    pool.Detach(jobs[1]);
    pool.Detach(jobs[2]);
}

}  // namespace
}  // namespace tavix
