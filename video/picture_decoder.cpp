#include "video/picture_decoder.h"

#include "demux/frame_info.h"

namespace tavix {

// The codecs, one file each.
std::unique_ptr<PictureDecoder> MakeH264Decoder(int32_t width, int32_t height);
std::unique_ptr<PictureDecoder> MakeMpeg4Decoder(int32_t width, int32_t height);

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

int PictureDecoder::Decode(const uint8_t* payload, int32_t length, DecodedPlanes& planes) {
    if (planes.y == nullptr || planes.u == nullptr || planes.v == nullptr) return -1;
    PictureView view;
    if (Decode(payload, length, view) != 0) return -1;
    CopyPicture(view, planes);
    return 0;
}

PictureDecoderMaker FindPictureDecoder(int32_t codec) {
    for (const CodecEntry& entry : kCodecs)
        if (entry.codec == codec) return entry.make;
    return nullptr;
}

}  // namespace tavix
