// The decoder library as CDecoder sees it: one interface over every codec it decodes, each
// codec in a file of its own (h264_picture_decoder.cpp, mpeg4_picture_decoder.cpp) whose maker
// is listed in picture_decoder.cpp, chosen by the frame's codec value when the library is
// opened for a key frame.
//
// A decoder is used by one thread at a time (the decoding thread); different ones are
// independent.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/libav_decoder.h"

namespace tavix {

class PictureDecoder {
  public:
    virtual ~PictureDecoder() = default;
    // Decodes one frame's payload, as LibavDecoder::Lend: 0 with `view` showing the picture
    // (until the next call), -1 when no picture came out.
    virtual int Decode(const uint8_t* payload, int32_t length, PictureView& view) = 0;
    // The same, copied into the caller's planes as LibavDecoder::Decode writes them.
    int Decode(const uint8_t* payload, int32_t length, DecodedPlanes& planes);
};

// Makes a codec's decoder for pictures up to width x height; null when it cannot be set up.
using PictureDecoderMaker = std::unique_ptr<PictureDecoder> (*)(int32_t width, int32_t height);

// The maker for a frame's codec value (FrameInfo::codec), or null for a codec that is not
// decoded. Values that name the same codec give the same maker.
PictureDecoderMaker FindPictureDecoder(int32_t codec);

}  // namespace tavix
