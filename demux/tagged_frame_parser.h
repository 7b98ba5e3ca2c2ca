// The device's tagged frames (format type 3, chosen only by the typed constructor of
// StreamDemuxer): "KRLW", a 32-bit payload length and that many bytes of MPEG-4 Visual data, or
// an audio packet 00 00 01 F0 with the 4-byte audio header of the private packets.
//
// A video frame whose data begins with a video object (00 00 01 00) is looked into up to its
// first VOP for the picture size, the time code and the frame rate of the device's user data;
// it is a key frame when a VOP follows its headers. Data that begins with a VOP is a dependent
// frame; any other data comes out damaged. Frames stay valid as StreamParser says.
#pragma once

#include <cstdint>

#include "demux/stream_parser.h"

namespace tavix {

class TaggedFrameParser : public StreamParser {
  public:
    explicit TaggedFrameParser(uint8_t* buffer);

    bool IsStartCode(uint32_t code) const override;
    int ParseHeader() override;
    int CheckNext() override;

  private:
    void InspectVideo(FrameInfo* frame) const;
};

}  // namespace tavix
