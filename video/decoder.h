// CDecoder: turns the media bytes of the playing channel into RGB pictures for the screen.
//
// Threads:
// - client thread: Start, PushData;
// - the display's thread (a user interface, a tool): Stop, GetPicture, ReleasePicture,
//   ScreenStatus, SetDisplayBits, FrameRate;
// - the decoding thread: whichever thread of the decoding pool runs the decoder's work, one at a
//   time, from Start until Stop returns; it demultiplexes the queued chunks,
//   decodes the video frames with the decoder library (H.264 and MPEG-4 Visual; frames of
//   other codecs are dropped) and converts the picture to the display's format.
// Two queues decouple them: received chunks (at most 10 MiB, under packetLock) and demultiplexed
// video frames (about two seconds; while it holds more, chunks are refused). One converted
// picture at a time passes to the display: by default the caller takes it (GetPicture); with a
// screen (SetScreen) the decoding thread converts it straight into the screen's image.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "demux/frame_info.h"
#include "platform/thread.h"
#include "video/decoding_pool.h"
#include "video/frame_source.h"
#include "video/picture_decoder.h"
#include "video/picture_scaler.h"
#include "video/picture_screen.h"

namespace tavix {

// Undecoded chunks held: a largest key picture, which a device sends at once, and what follows
// it while a picture is decoded.
constexpr int32_t kPacketByteLimit = static_cast<int32_t>(kMaxFrameBytes) + 2 * 1048576;
constexpr int32_t kFrameBufferMs = 2000;  // video held in the frame queue

// GetPicture's status.
constexpr int kStatusPlaying = 0;
constexpr int kStatusBuffering = 1;

class CDecoder : private DecodingPool::Job {
  public:
    // Builds the colour tables (once per program) and creates the demultiplexer.
    CDecoder();
    // Reads its frames from `source` instead, and the time from `clock` (tests). A null source
    // yields no frames.
    explicit CDecoder(std::unique_ptr<FrameSource> source,
                      std::function<int64_t()> clock = MonotonicMs);
    virtual ~CDecoder();
    CDecoder(const CDecoder&) = delete;
    CDecoder& operator=(const CDecoder&) = delete;

    // Begins decoding a new stream (stopping the one before): empty queues, waiting for a key
    // frame, frame rate unknown. A converted picture the display has taken stays its own until
    // it is released; one it has not taken is dropped.
    void Start();

    // Ends decoding: waits for the decoding thread to be done with it, frees the queued chunks and
    // frames, resets the demultiplexer so that the next stream is recognised afresh, closes the
    // decoder library. The picture buffer stays until the next stream replaces it.
    void Stop();

    // Queues a copy of one received chunk. Returns 1 when it was queued, 0 when it was refused
    // (no room: more than kPacketByteLimit queued, or the frame queue is over its limit, or no
    // memory); the next accepted chunk is then marked as following lost data.
    int PushData(const uint8_t* bytes, int length);

    // As PushData, but a chunk that finds no room is not counted as lost: 0 changes nothing.
    // For a pusher that would rather wait than lose data (tools).
    int TryPushData(const uint8_t* bytes, int length);

    // The converted picture, or null. With a picture: `width` and `height` are its size in
    // pixels, `status` becomes kStatusPlaying, and the picture is the caller's, unchanged,
    // until ReleasePicture. Rows are packed; 16-bit pictures are stored top row first, 24- and
    // 32-bit ones bottom row first. Without one, `status` (the caller's last one) changes to
    // kStatusBuffering while the frame rate is not known yet, or after the stream ran dry (no
    // picture for kRunDryMs and nothing queued) until a picture or a second of frames is there
    // again, and back to kStatusPlaying then.
    const uint8_t* GetPicture(int& width, int& height, int& status);

    // A display that looks more often than pictures come finds none most times; only a gap
    // this long counts as running dry.
    static constexpr int64_t kRunDryMs = 1000;

    // Gives the picture back to the decoder.
    void ReleasePicture();

    // Bits per pixel of the display: 16, 24 or 32 (others count as 32). Pictures converted
    // from then on have this depth.
    void SetDisplayBits(int bits) { displayBits.store(bits, std::memory_order_relaxed); }
    int DisplayBits() const { return displayBits.load(std::memory_order_relaxed); }

    // Where pictures go instead of GetPicture (null: back to GetPicture), from the next picture
    // on; the screen must outlive this decoder or be replaced first. Its image may have any
    // size: the one conversion scales the picture to it.
    void SetScreen(IPictureScreen* to) { screen.store(to, std::memory_order_release); }
    // GetPicture's `status` for a decoder with a screen: kStatusPlaying once the screen has had
    // a picture since the last call, else as GetPicture without a picture. The display's thread.
    int ScreenStatus(int status);
    // The next picture also goes to the screen's SnapshotReady at its own size (false: no
    // longer).
    void TakeSnapshot(bool on = true) { snapshotWanted.store(on, std::memory_order_release); }
    // Whether pictures for the screen have their frame stamp read (PictureFacts).
    void SetStampsWanted(bool on) { stampsWanted.store(on, std::memory_order_relaxed); }

    // Frames per second of the stream, from its first usable key frame; 0 while unknown.
    int FrameRate() const { return frameRate.load(std::memory_order_relaxed); }

    // For the statistics a viewer shows, any thread: the codec the decoder library is open for
    // (-1 none), pictures decoded since construction, the time one took to decode (a running
    // mean, microseconds), and how often lost chunks or a damaged picture made the decoder drop
    // pictures until the next key picture.
    int Codec() const { return codec.load(std::memory_order_relaxed); }
    int64_t DecodedPictures() const { return decodedPictures.load(std::memory_order_relaxed); }
    int64_t DecodeMicrosecondsTotal() const { return decodeTotal.load(std::memory_order_relaxed); }
    int DecodeMicroseconds() const { return decodeMicroseconds.load(std::memory_order_relaxed); }
    int64_t KeyWaits() const { return keyWaits.load(std::memory_order_relaxed); }

    // For tests and tools: frames queued for decoding, and whether chunks are being refused.
    int QueuedFrames() const { return frameCount.load(std::memory_order_relaxed); }
    bool Dropping() const { return dropping.load(std::memory_order_relaxed) != 0; }
    int QueuedBytes();  // chunks not yet demultiplexed
    // Every chunk pushed so far has been fed to the demultiplexer and its frames are queued
    // (or were passed over).
    bool Demultiplexed();
    // Nothing queued, being demultiplexed or decoded, or waiting for conversion: every picture
    // of what was pushed has been handed over (or was lost).
    bool Drained();

  private:
    struct MediaPacket {
        std::vector<uint8_t> bytes;
        int32_t discontinuity = 0;  // chunks were refused just before this one
    };
    // A demultiplexed video frame: the record, its payload pointing into `bytes`, packet null.
    struct FrameCopy {
        FrameInfo info;
        std::vector<uint8_t> bytes;
    };

    int Push(const uint8_t* bytes, int length, bool countLoss);
    bool RunTurn() override;
    void DemultiplexStep();
    int DecodeStep();
    int DecodeOneFrame();
    int Decode(const FrameInfo& frame);
    bool OpenLibrary(const FrameInfo& frame);
    void CloseLibrary();
    void Convert();
    // Hands the decoded picture to the screen.
    void ConvertToScreen(IPictureScreen& to);
    // GetPicture's status when it has no picture to give.
    int IdleStatus(int status);

    std::unique_ptr<FrameSource> demuxer;

    // Guarded by packetLock (with the test of `dropping`).
    std::mutex packetLock;
    std::deque<MediaPacket> packets;
    // Chunk buffers given back by the decoding thread, kept for the next chunks: a stream
    // reuses a few buffers instead of allocating one for each chunk.
    std::vector<std::vector<uint8_t>> spareChunks;
    int32_t queuedBytes = 0;
    int32_t byteLimit = kPacketByteLimit;
    int32_t overflow = 0;

    // Written by the decoding thread, read by the others.
    std::atomic<int32_t> dropping{0};
    std::atomic<int32_t> frameRate{0};
    std::atomic<int32_t> frameCount{0};       // frames.size(), and the frame being decoded
    std::atomic<bool> demultiplexing{false};  // a chunk taken from `packets` is being fed
    std::atomic<int32_t> pendingPictures{0};  // decoded, not yet converted (0 or 1)
    // The picture hand-over. Set to kReady by the decoding thread after the picture's bytes
    // (release); taken and given back by the display (acquire / release).
    enum class PictureState : int32_t {
        kFree,   // the decoder owns `picture`
        kReady,  // a converted picture waits for the display
        kTaken,  // the display holds it until ReleasePicture
    };
    std::atomic<PictureState> readyPictures{PictureState::kFree};
    std::atomic<int32_t> displayBits{0};
    // Statistics, written by the decoding thread.
    std::atomic<int32_t> codec{-1};
    std::atomic<int64_t> decodedPictures{0};
    std::atomic<int32_t> decodeMicroseconds{0};
    std::atomic<int64_t> decodeTotal{0};  // microseconds, every picture
    std::atomic<int64_t> keyWaits{0};

    // The decoding thread's while it runs; Start and Stop touch them only while it does not.
    bool waitKeyFrame = true;
    std::deque<FrameCopy> frames;
    std::vector<std::vector<uint8_t>> spareFrames;  // frame buffers, as spareChunks
    int32_t bufferMs = kFrameBufferMs;
    int32_t openCodec = -1;
    bool libraryOpen = false;
    std::unique_ptr<PictureDecoder> library;  // for openCodec
    int32_t decodeWidth = 0;                  // size the library was opened with
    int32_t decodeHeight = 0;
    PictureView decoded;                // the last decoded picture, in the library's buffers
    std::unique_ptr<uint8_t[]> packed;  // its planes packed, for the 16-bit conversion
    size_t packedCapacity = 0;
    int32_t wantedWidth = 0;   // picture size of the last key frame; the buffer follows it
    int32_t wantedHeight = 0;  // when the display has given the picture back

    // The converted picture: written by the decoding thread while readyPictures is kFree, read
    // by the display while it is not.
    std::unique_ptr<uint8_t[]> picture;
    size_t pictureCapacity = 0;
    int32_t pictureWidth = 0;  // size the buffer was made for
    int32_t pictureHeight = 0;
    int32_t readyWidth = 0;  // size of the converted picture in it
    int32_t readyHeight = 0;

    // Screen mode.
    std::atomic<IPictureScreen*> screen{nullptr};
    std::atomic<int64_t> screenPictures{0};       // pictures the screen took
    std::atomic<int64_t> streamStartPictures{0};  // screenPictures when this stream started
    int64_t screenPicturesSeen = 0;               // ScreenStatus's thread
    std::atomic<bool> snapshotWanted{false};
    std::atomic<bool> stampsWanted{false};
    PictureScaler scaler;  // the decoding thread's

    // The display waits for the frame queue to fill (user-interface thread; Start clears it).
    std::atomic<bool> buffering{false};
    std::function<int64_t()> clock;
    int64_t lastPictureMs = 0;  // when GetPicture last handed out a picture (its thread only)

    bool inPool = false;  // between Start and Stop (their callers' threads)
    std::atomic<bool> running{false};
};

}  // namespace tavix
