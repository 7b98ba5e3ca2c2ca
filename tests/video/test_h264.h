// H.264 and MPEG-4 Visual test video one frame at a time, from the shared encoder helper
// (libx264 through libavcodec, baseline, SPS and PPS in front of every key frame, Annex B; or
// FFmpeg's mpeg4 encoder, layer headers in front of every key frame).
#pragma once

#include <cstdint>
#include <vector>

namespace tavix::test {

struct CodedFrame {
    std::vector<uint8_t> bytes;
    bool key = false;
};

// `count` frames of width x height, a key frame every keyInterval frames from the first on.
std::vector<CodedFrame> EncodeH264Frames(int width, int height, int count, int keyInterval = 12);
std::vector<CodedFrame> EncodeMpeg4Frames(int width, int height, int count, int keyInterval = 12);

// Every frame decoded by libavcodec on its own terms (a reference apart from the decoder
// library layer): Y, U, V, rows packed, one picture per frame that gave one.
std::vector<std::vector<uint8_t>> ReferenceDecode(const std::vector<CodedFrame>& frames,
                                                  bool h264 = true);

}  // namespace tavix::test
