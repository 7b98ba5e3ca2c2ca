#include "video/decoder.h"

#include <chrono>
#include <cstring>
#include <new>

#include "demux/stream_demuxer.h"
#include "platform/trace.h"
#include "video/colour_conversion.h"

namespace tavix {
namespace {

class DemuxerSource final : public FrameSource {
  public:
    explicit DemuxerSource(std::unique_ptr<StreamDemuxer> demuxer) : demuxer(std::move(demuxer)) {}
    int Feed(const uint8_t* data, int length) override {
        return demuxer ? demuxer->Feed(data, length) : -1;
    }
    FrameInfo* NextFrame() override { return demuxer ? demuxer->NextFrame() : nullptr; }
    FrameInfo* NextKeyFrame() override { return demuxer ? demuxer->NextKeyFrame() : nullptr; }
    int Reset(int mode, int kind) override { return demuxer ? demuxer->Reset(mode, kind) : -1; }

  private:
    std::unique_ptr<StreamDemuxer> demuxer;
};

// A stream's picture size is untrusted: anything above this many pixels (8192 x 4320) is
// treated like a failed allocation.
constexpr int64_t kMaxPicturePixels = 8192LL * 4320;
constexpr int32_t kLargestStatedSize = 255 * 8;

constexpr int kIdle = 8;  // a step that found nothing to do
// Chunk and frame buffers kept for reuse, each.
constexpr size_t kSpareBuffers = 8;
// Pictures decoded in one turn on the pool before the other decoders have theirs.
constexpr int kTurnSteps = 4;

std::unique_ptr<uint8_t[]> ZeroedBuffer(size_t bytes) {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]());
}

}  // namespace

std::unique_ptr<FrameSource> MakeDemuxerSource(int formatType) {
    return std::make_unique<DemuxerSource>(
        formatType == kFormatNone ? StreamDemuxer::Create() : StreamDemuxer::Create(formatType));
}

CDecoder::CDecoder() : CDecoder(MakeDemuxerSource()) {}

CDecoder::CDecoder(std::unique_ptr<FrameSource> source, std::function<int64_t()> clock)
    : demuxer(std::move(source)), clock(std::move(clock)) {
    BuildTables();
}

CDecoder::~CDecoder() {
    if (inPool) Stop();
    CloseLibrary();
}

void CDecoder::Start() {
    if (inPool || libraryOpen) Stop();
    {
        // Chunks pushed after the last Stop belong to the old stream.
        std::lock_guard<std::mutex> lock(packetLock);
        packets.clear();
        byteLimit = kPacketByteLimit;
        queuedBytes = 0;
        overflow = 0;
        dropping.store(0, std::memory_order_relaxed);
    }
    bufferMs = kFrameBufferMs;
    waitKeyFrame = true;
    // A picture the display has not taken belongs to the old stream: drop it. One it has taken
    // stays its own until ReleasePicture.
    PictureState ready = PictureState::kReady;
    readyPictures.compare_exchange_strong(ready, PictureState::kFree, std::memory_order_acq_rel);
    pendingPictures.store(0, std::memory_order_relaxed);
    frameRate.store(0, std::memory_order_relaxed);
    buffering.store(false, std::memory_order_relaxed);
    // Pictures of the stream before do not say this one plays.
    streamStartPictures.store(screenPictures.load(std::memory_order_acquire),
                              std::memory_order_release);
    running.store(true, std::memory_order_relaxed);
    inPool = DecodingPool::Shared().Attach(*this);
    if (!inPool) running.store(false, std::memory_order_relaxed);
}

void CDecoder::Stop() {
    Trace("CDecoder::Stop  00\n");
    running.store(false, std::memory_order_relaxed);
    if (inPool) DecodingPool::Shared().Detach(*this);
    inPool = false;
    {
        // queuedBytes is reset by the next Start.
        std::lock_guard<std::mutex> lock(packetLock);
        packets.clear();
        spareChunks.clear();
    }
    frames.clear();
    spareFrames.clear();
    frameCount.store(0, std::memory_order_relaxed);
    if (demuxer) demuxer->Reset(0, 0);
    CloseLibrary();
    decoded = {};
    packed.reset();
    packedCapacity = 0;
    libraryOpen = false;
    Trace("CDecoder::Stop  11\n");
}

int CDecoder::PushData(const uint8_t* bytes, int length) {
    return Push(bytes, length, true);
}

int CDecoder::TryPushData(const uint8_t* bytes, int length) {
    return Push(bytes, length, false);
}

int CDecoder::Push(const uint8_t* bytes, int length, bool countLoss) {
    if (bytes == nullptr || length <= 0) return 0;
    {
        std::lock_guard<std::mutex> lock(packetLock);
        if (dropping.load(std::memory_order_relaxed) != 0 ||
            static_cast<int64_t>(queuedBytes) + length > byteLimit) {
            if (countLoss) overflow = 1;
            return 0;
        }
        MediaPacket packet;
        // A kept buffer; one that is too small grows (and stays grown).
        if (!spareChunks.empty()) {
            packet.bytes = std::move(spareChunks.back());
            spareChunks.pop_back();
        }
        try {
            packet.bytes.assign(bytes, bytes + length);
        } catch (const std::bad_alloc&) {
            overflow = 1;
            return 0;
        }
        packet.discontinuity = overflow;
        queuedBytes += length;
        packets.push_back(std::move(packet));
        overflow = 0;
    }
    // After the lock: a pool thread woken at once does not find the chunk queue held.
    DecodingPool::Shared().Wake(*this);
    return 1;
}

int CDecoder::QueuedBytes() {
    std::lock_guard<std::mutex> lock(packetLock);
    return queuedBytes;
}

bool CDecoder::Demultiplexed() {
    std::lock_guard<std::mutex> lock(packetLock);
    return packets.empty() && !demultiplexing.load(std::memory_order_acquire);
}

bool CDecoder::Drained() {
    return Demultiplexed() && frameCount.load(std::memory_order_acquire) == 0 &&
           pendingPictures.load(std::memory_order_acquire) == 0;
}

const uint8_t* CDecoder::GetPicture(int& width, int& height, int& status) {
    PictureState ready = readyPictures.load(std::memory_order_acquire);
    if (ready == PictureState::kReady &&
        !readyPictures.compare_exchange_strong(ready, PictureState::kTaken,
                                               std::memory_order_acq_rel))
        ready = readyPictures.load(std::memory_order_acquire);  // Start dropped it meanwhile
    if (ready != PictureState::kFree) {
        width = readyWidth;
        height = readyHeight;
        status = kStatusPlaying;
        // A picture on screen is playing, whatever the queue holds.
        buffering.store(false, std::memory_order_relaxed);
        lastPictureMs = clock();
        return picture.get();
    }
    status = IdleStatus(status);
    return nullptr;
}

int CDecoder::ScreenStatus(int status) {
    const int64_t shown = screenPictures.load(std::memory_order_acquire);
    const bool fresh =
        shown != screenPicturesSeen && shown > streamStartPictures.load(std::memory_order_acquire);
    screenPicturesSeen = shown;
    if (fresh) {
        buffering.store(false, std::memory_order_relaxed);
        lastPictureMs = clock();
        return kStatusPlaying;
    }
    return IdleStatus(status);
}

int CDecoder::IdleStatus(int status) {
    const int32_t rate = frameRate.load(std::memory_order_relaxed);
    if (rate <= 0) {
        buffering.store(false, std::memory_order_relaxed);
        return kStatusBuffering;
    }
    const int32_t queued = frameCount.load(std::memory_order_relaxed);
    if (buffering.load(std::memory_order_relaxed)) {
        if (queued < rate) return kStatusBuffering;
        buffering.store(false, std::memory_order_relaxed);
        return kStatusPlaying;
    }
    if (queued == 0 && pendingPictures.load(std::memory_order_relaxed) <= 0 &&
        clock() - lastPictureMs >= kRunDryMs) {
        buffering.store(true, std::memory_order_relaxed);
        return kStatusBuffering;
    }
    return status;
}

void CDecoder::ReleasePicture() {
    // The display is done with the bytes: the decoder may write them again.
    PictureState ready = readyPictures.load(std::memory_order_relaxed);
    while (ready != PictureState::kFree &&
           !readyPictures.compare_exchange_weak(
               ready, PictureState::kFree, std::memory_order_release, std::memory_order_relaxed)) {
    }
    // A decoded picture may be waiting to be converted into the buffer.
    if (ready != PictureState::kFree) DecodingPool::Shared().Wake(*this);
}

bool CDecoder::RunTurn() {
    for (int step = 0; step < kTurnSteps; ++step) {
        if (!running.load(std::memory_order_relaxed)) return false;
        DemultiplexStep();
        // A pass that found nothing to do ends the turn until more work wakes the decoder: a
        // wall of idle decoders costs nothing.
        if (DecodeStep() == kIdle) return false;
    }
    return true;
}

void CDecoder::DemultiplexStep() {
    // The buffer of the chunk fed last, to be given back under the next lock.
    std::vector<uint8_t> used;
    for (;;) {
        MediaPacket packet;
        {
            std::lock_guard<std::mutex> lock(packetLock);
            if (!used.empty() && spareChunks.size() < kSpareBuffers)
                spareChunks.push_back(std::move(used));
            if (packets.empty()) return;
            packet = std::move(packets.front());
            packets.pop_front();
            queuedBytes -= static_cast<int32_t>(packet.bytes.size());
            demultiplexing.store(true, std::memory_order_relaxed);
        }
        if (packet.discontinuity) {
            if (!waitKeyFrame) keyWaits.fetch_add(1, std::memory_order_relaxed);
            waitKeyFrame = true;
            frameRate.store(0, std::memory_order_relaxed);
        }
        if (!demuxer) {
            demultiplexing.store(false, std::memory_order_release);
            used = std::move(packet.bytes);
            continue;
        }
        demuxer->Feed(packet.bytes.data(), static_cast<int>(packet.bytes.size()));
        for (;;) {
            FrameInfo* f;
            const bool waited = waitKeyFrame;
            if (waitKeyFrame) {
                f = demuxer->NextKeyFrame();
                if (f == nullptr) break;
                // Audio records are reused without clearing and may still say "key": pass them
                // over, or a key picture behind them in the same chunk would be lost.
                if (f->kind != kKindVideo) continue;
                const bool usable =
                    f->dependent == 0 && f->width > 0 && f->height > 0 && f->frameRate > 0;
                if (!usable) break;
                waitKeyFrame = false;
                frameRate.store(f->frameRate, std::memory_order_relaxed);
            } else {
                f = demuxer->NextFrame();
                if (f == nullptr) break;
            }
            if (f->kind != kKindVideo) continue;
            if (f->payloadLength <= 0 || f->payload == nullptr) {
                // A damaged picture would leave the pictures that refer to it wrong.
                if (!waited) keyWaits.fetch_add(1, std::memory_order_relaxed);
                waitKeyFrame = true;
                continue;
            }
            // The frame's bytes live only until the next Feed: keep a copy.
            try {
                FrameCopy copy;
                if (!spareFrames.empty()) {
                    copy.bytes = std::move(spareFrames.back());
                    spareFrames.pop_back();
                }
                copy.info = *f;
                const int32_t length =
                    f->payload != nullptr && f->payloadLength > 0 ? f->payloadLength : 0;
                copy.bytes.assign(f->payload, f->payload + length);
                copy.info.payloadLength = length;
                copy.info.packet = nullptr;
                frames.push_back(std::move(copy));
                frames.back().info.payload = frames.back().bytes.data();
            } catch (const std::bad_alloc&) {
                waitKeyFrame = true;
                frameRate.store(0, std::memory_order_relaxed);
                continue;
            }
            frameCount.store(static_cast<int32_t>(frames.size()), std::memory_order_relaxed);
            // More than two seconds of video queued: refuse chunks until it drains.
            if (static_cast<double>(frames.size()) >
                bufferMs * 0.001 * frameRate.load(std::memory_order_relaxed))
                dropping.store(1, std::memory_order_relaxed);
        }
        // The frames are copied: the chunk is done with.
        used = std::move(packet.bytes);
        demultiplexing.store(false, std::memory_order_release);
    }
}

int CDecoder::DecodeStep() {
    // Nothing is decoded while a decoded picture waits for conversion.
    int result = pendingPictures.load(std::memory_order_relaxed) != 0 ? kIdle : DecodeOneFrame();
    if (pendingPictures.load(std::memory_order_relaxed) > 0) {
        if (IPictureScreen* to = screen.load(std::memory_order_acquire)) {
            ConvertToScreen(*to);
            result = 0;
        } else if (readyPictures.load(std::memory_order_acquire) == PictureState::kFree) {
            Convert();
            result = 0;
        }
    }
    return result;
}

int CDecoder::DecodeOneFrame() {
    if (frames.empty()) return kIdle;
    FrameCopy f = std::move(frames.front());
    frames.pop_front();
    if (dropping.load(std::memory_order_relaxed) != 0 && frames.size() < 3)
        dropping.store(0, std::memory_order_relaxed);
    const int result = Decode(f.info);
    if (spareFrames.size() < kSpareBuffers) spareFrames.push_back(std::move(f.bytes));
    // Counted until now, so that a frame being decoded never looks like an empty queue.
    frameCount.store(static_cast<int32_t>(frames.size()), std::memory_order_release);
    return result;
}

int CDecoder::Decode(const FrameInfo& frame) {
    FrameInfo info = frame;
    int32_t width = 0;
    int32_t height = 0;
    // The containers' size bytes hold 2040 pixels at most: a larger picture says 2040 there,
    // and only its own stream headers tell its size.
    const bool sizeAtMost = info.width >= kLargestStatedSize || info.height >= kLargestStatedSize;
    if (info.dependent == 0 && sizeAtMost &&
        (info.codec == kCodecH264 || info.codec == kCodecH264Announced) &&
        LibavDecoder::H264PictureSize(info.payload, info.payloadLength, width, height) &&
        (width > info.width || height > info.height)) {
        info.width = width;
        info.height = height;
    }
    if (info.dependent == 0 && info.width > 0 && info.height > 0) {
        const int64_t pixels = static_cast<int64_t>(info.width) * info.height;
        if (pixels > kMaxPicturePixels) return 1;
        // The picture buffer follows this size at the next conversion, once the display has
        // given back the picture it may be showing.
        wantedWidth = info.width;
        wantedHeight = info.height;
        if (info.codec != openCodec || info.width != decodeWidth || info.height != decodeHeight ||
            !libraryOpen) {
            if (!OpenLibrary(info)) {
                libraryOpen = false;
                return 1;
            }
            decodeWidth = info.width;
            decodeHeight = info.height;
            // Closing cleared the frame rate; within a stream it still holds (left at 0, every
            // queued frame would count as too many and chunks would be refused).
            if (info.frameRate > 0) frameRate.store(info.frameRate, std::memory_order_relaxed);
        }
    }

    // Only frames of the codec the library was opened for (H.264 under either of its values).
    if (libraryOpen && FindPictureDecoder(info.codec) == FindPictureDecoder(openCodec) &&
        info.payloadLength > 0) {
        const auto started = std::chrono::steady_clock::now();
        // The picture stays in the library's buffers until the next frame is decoded, and no
        // frame is decoded while it waits for its conversion.
        if (library->Decode(info.payload, info.payloadLength, decoded) == 0) {
            const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - started);
            // A running mean over about the last eight pictures.
            const int32_t mean = decodeMicroseconds.load(std::memory_order_relaxed);
            decodeMicroseconds.store(mean + (static_cast<int32_t>(took.count()) - mean) / 8,
                                     std::memory_order_relaxed);
            decodedPictures.fetch_add(1, std::memory_order_relaxed);
            decodeTotal.fetch_add(took.count(), std::memory_order_relaxed);
            pendingPictures.fetch_add(1, std::memory_order_release);
        }
    }
    return 0;
}

bool CDecoder::OpenLibrary(const FrameInfo& frame) {
    // Also a decoder left by a key frame that found no buffer.
    if (libraryOpen || library) CloseLibrary();
    // Frames of a codec that is not decoded leave the library closed.
    const PictureDecoderMaker make = FindPictureDecoder(frame.codec);
    if (make != nullptr) library = make(frame.width, frame.height);
    libraryOpen = library != nullptr;
    if (!libraryOpen) return false;
    openCodec = frame.codec;
    codec.store(openCodec, std::memory_order_relaxed);
    return true;
}

void CDecoder::CloseLibrary() {
    library.reset();
    openCodec = -1;
    codec.store(-1, std::memory_order_relaxed);
    decodeWidth = decodeHeight = 0;
    frameRate.store(0, std::memory_order_relaxed);
    libraryOpen = false;
}

void CDecoder::Convert() {
    // readyPictures is kFree: the display has given the picture back, so the buffer may change.
    if (!picture || pictureWidth != wantedWidth || pictureHeight != wantedHeight) {
        const size_t bytes = static_cast<size_t>(wantedWidth) * wantedHeight * 4;
        picture = ZeroedBuffer(bytes);
        pictureCapacity = picture ? bytes : 0;
        pictureWidth = picture ? wantedWidth : 0;
        pictureHeight = picture ? wantedHeight : 0;
    }
    const int bits = displayBits.load(std::memory_order_relaxed);
    const int bytesPerPixel = bits == 16 ? 2 : bits == 24 ? 3 : 4;
    const int width = decoded.width;
    const int height = decoded.height;
    const size_t area = static_cast<size_t>(width) * height;
    // A picture that does not fit (or no buffer) is dropped rather than left pending, which
    // would stop decoding for good.
    if (picture && width > 0 && height > 0 && area * bytesPerPixel <= pictureCapacity) {
        bool converted = true;
        if (bits == 16) {
            // The 16-bit conversion reads packed planes.
            if (packedCapacity < area * 3 / 2) {
                packed = ZeroedBuffer(area * 3 / 2);
                packedCapacity = packed ? area * 3 / 2 : 0;
            }
            converted = packed != nullptr;
            if (converted) {
                DecodedPlanes planes{packed.get(), packed.get() + area, packed.get() + area * 5 / 4,
                                     0, 0};
                CopyPicture(decoded, planes);
                ConvertTo565(width, height, packed.get(), picture.get());
            }
        } else if (bits == 24) {
            ConvertTo24(picture.get(), width, decoded.y, decoded.u, decoded.v, decoded.yStride,
                        decoded.uvStride, width, -height);
        } else {
            ConvertTo32(picture.get(), width, decoded.y, decoded.u, decoded.v, decoded.yStride,
                        decoded.uvStride, width, -height);
        }
        if (converted) {
            readyWidth = width;
            readyHeight = height;
            readyPictures.store(PictureState::kReady, std::memory_order_release);
        }
    }
    pendingPictures.fetch_sub(1, std::memory_order_release);
}

void CDecoder::ConvertToScreen(IPictureScreen& to) {
    const int width = decoded.width;
    const int height = decoded.height;
    ScreenImage image;
    if (to.BeginPicture(width, height, image) == ScreenReady::kConvert) {
        PictureFacts facts;
        facts.width = width;
        facts.height = height;
        if (stampsWanted.load(std::memory_order_relaxed)) {
            // From the luma plane: the stamp's cells are black and white.
            const PictureView& from = decoded;
            facts.stamped = ReadStamp(
                width, height,
                [&from](int x, int y) {
                    return int{from.y[static_cast<ptrdiff_t>(y) * from.yStride + x]};
                },
                facts.stamp);
        }
        scaler.Convert(
            CropPicture(decoded, image.cropX, image.cropY, image.cropWidth, image.cropHeight),
            image);
        screenPictures.fetch_add(1, std::memory_order_release);
        to.EndPicture(facts);
    }
    if (snapshotWanted.exchange(false, std::memory_order_acq_rel)) {
        try {
            std::vector<uint8_t> shot(static_cast<size_t>(width) * height * 4);
            const ScreenImage whole{shot.data(), width, height, width * 4, 32};
            if (scaler.Convert(decoded, whole)) to.SnapshotReady(std::move(shot), width, height);
        } catch (const std::bad_alloc&) {
            // No room for it: the snapshot is not taken.
        }
    }
    pendingPictures.fetch_sub(1, std::memory_order_release);
}

}  // namespace tavix
