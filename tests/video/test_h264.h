// Real H.264 for the video tests: a moving pattern encoded at test time with libx264 through
// libavcodec (baseline profile, no B-frames, SPS and PPS in front of every key frame, Annex B).
// Deterministic: the same options give the same bytes. Failures abort the test program.
#pragma once

#include <cstdint>
#include <vector>

namespace tavix::test {

struct H264Frame {
    std::vector<uint8_t> bytes;
    bool key = false;
};

// Picture `index` of the pattern as it goes into the encoder: Y, U, V, rows packed. Detail
// everywhere and motion in every frame: a drifting gradient with a bright square.
std::vector<uint8_t> SourcePicture(int width, int height, int index);

// `count` frames of width x height, a key frame every keyInterval frames from the first on.
std::vector<H264Frame> EncodeH264(int width, int height, int count, int keyInterval = 12);

}  // namespace tavix::test
