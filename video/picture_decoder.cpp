#include "video/picture_decoder.h"

#include "demux/frame_info.h"

namespace tavix {
namespace {

struct CodecEntry {
    int32_t codec;
    PictureDecoderMaker make;
};

// A codec added here (and in a file of its own) is decoded.
constexpr CodecEntry kCodecs[] = {
    {kCodecMpeg4, MakeMpeg4Decoder},
    {kCodecH264Announced, MakeH264Decoder},
    {kCodecH264, MakeH264Decoder},
};

}  // namespace

PictureDecoderMaker FindPictureDecoder(int32_t codec) {
    for (const CodecEntry& entry : kCodecs)
        if (entry.codec == codec) return entry.make;
    return nullptr;
}

}  // namespace tavix
