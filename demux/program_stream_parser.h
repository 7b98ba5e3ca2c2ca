// MPEG-2 program stream as the device writes it (format type 7): each pack (00 00 01 BA) holds
// one video (E0) or audio (C0) PES packet; packs that begin a key picture also hold a system
// header (BB) or a program stream map (BC). One frame per PES packet.
//
// The first video payload whose start codes tell decides once whether the video is MPEG-4
// Visual or H.264 (until then payloads are read whole and count as MPEG-4), so that a stream
// joined anywhere plays. H.264 key frames take their size and rate from bytes 80 and 81 behind the
// pack start code, a place in the device's map; a key frame whose pack headers end before those
// bytes comes out with size and rate 0. MPEG-4 key frames take their size and time from their
// layer headers, and their rate from the pack (or else the layer's clock). A picture that the
// device split over several PES packets (the first one 65532 bytes long) is joined in a buffer
// of the parser's own and comes out as one frame: its payload is the picture's own bytes, its
// packet begins with the first packet's pack header; the pieces before the last come out as
// other data with a packet length of 0. A join that breaks (a damaged piece, one the device
// marks, or one that would pass kJoinLimit) is abandoned.
//
// Frames, joined ones included, stay valid until the next Feed or Reset, as StreamParser says.
#pragma once

#include <cstdint>
#include <memory>

#include "demux/stream_parser.h"

namespace tavix {

class ProgramStreamParser : public StreamParser {
  public:
    static constexpr uint32_t kJoinLimit = kMaxFrameBytes;  // bytes of one joined picture at most
    // Room for a join carried into a Feed and for every byte that one Feed scans, at most: the
    // join buffer is made and grown as joins need it.
    static constexpr uint32_t kJoinBufferSize = kJoinLimit + kMaxWorkBufferSize;

    explicit ProgramStreamParser(uint8_t* buffer);
    ~ProgramStreamParser() override;

    bool IsStartCode(uint32_t code) const override;
    int ParseHeader() override;
    int CheckNext() override;
    int Feed(const uint8_t* data, int length) override;
    int Reset(int mode) override;

  protected:
    void Dropped() override;

  private:
    int ParseContinuation();
    void InspectMpeg4Key(FrameInfo* frame) const;
    int ContinueJoin(FrameInfo* frame, bool matched);
    void StartJoin(FrameInfo* frame);
    void EndJoin();
    // Makes the join buffer hold `bytes`, moving the frames that point into it; false past
    // kJoinBufferSize or when memory runs out.
    bool ReserveJoin(uint64_t bytes);

    // Joined pictures (joinCapacity bytes): the one being joined at joinStart (joinFill bytes),
    // those completed in this Feed in front of it.
    std::unique_ptr<uint8_t[]> joinBuffer;
    uint32_t joinCapacity = 0;
    uint32_t joinStart = 0;
    uint32_t joinFill = 0;
    uint32_t joinUsed = 0;      // bytes of the joins completed in this Feed
    bool splitPending = false;  // the last video PES packet had the length that means "split"
    bool joining = false;
    bool codecKnown = false;
    int32_t savedWidth = 0;
    int32_t savedHeight = 0;
    int32_t savedFrameRate = 0;
    int32_t savedDependent = 0;  // whether the split picture is a key picture
    int32_t joinPayloadAt = 0;   // where the picture's data starts in the join
    int32_t videoCodec = 0;      // 0 MPEG-4 Visual, 1 H.264
};

}  // namespace tavix
