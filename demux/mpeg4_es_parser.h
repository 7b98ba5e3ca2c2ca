// Cuts an MPEG-4 Visual elementary stream into frames: one per VOP, with the layer headers in
// front of it, plus the audio (00 00 01 F0, or "01wb" in AVI mode) and private-data
// (00 00 01 F1) packets that the device interleaves with the video.
//
// A frame runs from its marker, or from the layer headers found within 60 bytes before its VOP,
// to the next marker; a frame is therefore complete only when the next one begins. In AVI mode a
// picture's payload ends with the AVI chunk it lies in, when the chunk's header is seen. Frames
// point into the caller's chunk where they lie whole in it, else into the work buffer, where the
// open frame is also carried from one Feed to the next. Frames and bytes stay valid as the base
// class says; in sequenced mode the outer parser decides when they go (Drop).
#pragma once

#include <cstdint>

#include "demux/frame_info.h"
#include "demux/stream_parser.h"

namespace tavix {

class Mpeg4EsParser : public StreamParser {
  public:
    static constexpr int kModePlain = 0;      // a raw stream; size, rate, time from its headers
    static constexpr int kModeSequenced = 1;  // inside the sequenced packets; fields from the
                                              // template the outer parser gives (SetTemplate)
    static constexpr int kModeAvi = 2;        // video of an AVI file; "01wb" chunks are audio

    // `aviTemplate` (AVI mode only) gives width, height, frameRate, sampleRate and
    // bitsPerSample for the frames; it is copied.
    Mpeg4EsParser(uint8_t* buffer, int mode, const FrameInfo* aviTemplate = nullptr);

    // This parser replaces Feed; the assembler's operations accept everything.
    bool IsStartCode(uint32_t) const override { return true; }
    int ParseHeader() override { return 1; }
    int CheckNext() override { return 1; }

    // Consumes one chunk and returns 0 (also for a null chunk or a negative length, which are
    // ignored). Outside sequenced mode the frames not fetched since the last Feed are discarded.
    int Feed(const uint8_t* data, int length) override;
    int Reset(int mode) override;

    // For the outer parser of sequenced mode. With `keepOpenFrame` 1: discards the ready frames
    // and moves the open frame's bytes to the start of the buffer (so that the buffer does not
    // fill up); call it before a Feed, never while frames are lent. With 0: the stream broke
    // off; drops the open frame, its bytes and the layer headers seen, keeping the complete
    // frames and the bytes they point to.
    void Drop(int keepOpenFrame);
    // Sequenced mode: size, rate and time for the key frames that follow.
    void SetTemplate(const FrameInfo& frame) { sequencedTemplate = frame; }

    int Mode() const { return mode; }

  private:
    bool IsMarker(uint32_t value) const;
    void Cut(int markerAt, uint32_t marker);
    int FindLayerHeaders(int markerAt) const;
    int32_t AviChunkRest(int start) const;
    void ReadLayerHeaders(FrameInfo* frame, int from, int to) const;
    void CloseFrame(int end);
    void FinishAudio(FrameInfo* frame, int32_t length) const;
    void FinishPrivate(FrameInfo* frame, int32_t length) const;
    void CarryOpenFrame();
    void DropOpenFrame();
    void QueueDamaged(FrameInfo* frame);
    bool Join(int upTo);
    void MoveCarryToStart();
    uint8_t ByteAt(int position) const;
    const uint8_t* Location(int position) const;

    const int mode;
    int32_t pending = 0;       // bytes carried to the next Feed: the open frame from its start
                               // (or, before any marker, what came so far), at fill - pending
    bool headersSeen = false;  // a VOP with layer headers was seen since the last Drop(0)
    FrameInfo sequencedTemplate{};
    FrameInfo aviTemplate{};
    int32_t headerBytes = 0;     // layer header bytes in front of the last VOP that had them
    int32_t markerOffset = 0;    // distance from the open frame's start to its marker
    bool openDamaged = false;    // the open frame lost its first bytes to a dropped buffer
    int32_t openChunkRest = -1;  // AVI mode: bytes of its chunk from the open frame's start

    // While a Feed runs: positions count from the chunk's first byte; the bytes before it are
    // the carried ones, in the buffer right in front of `joinAt`.
    const uint8_t* data = nullptr;
    int length = 0;
    int joinAt = 0;     // buffer offset of the chunk's first byte, were it copied
    int copied = 0;     // leading chunk bytes copied there
    int aliveFrom = 0;  // first position still held
    int openStart = 0;  // position of the open frame's first byte
};

}  // namespace tavix
