// Real encoded video for tests and benchmarks: a generated moving pattern encoded at test time
// with FFmpeg's mpeg4 encoder or with libx264, both through libavcodec.
//
// Encoding is deterministic (one thread, bit-exact flags): the same options give the same bytes.
// Failures (encoder missing, bad options) abort the calling test with a message on stderr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavix::test {

struct VideoOptions {
    int width = 176;
    int height = 144;
    int frames = 25;
    int frameRate = 25;
    // The stream's clock: ticks per second (0: frameRate) and ticks per picture
    // (0: timeResolution / frameRate). MPEG-4 Visual writes the first as
    // vop_time_increment_resolution, e.g. 30000 with 1001 ticks per picture.
    int timeResolution = 0;
    int frameTicks = 0;
    int keyInterval = 12;   // a key frame every keyInterval frames, the first one included
    int firstSecond = 0;    // time stamp of the first frame, in seconds (MPEG-4 GOV time codes)
    int bitRate = 400000;   // bits per second the encoder aims at
    bool userData = false;  // MPEG-4: let the encoder write its identification as user data
};

// One encoded picture as the encoder delivered it.
struct EncodedFrame {
    size_t offset = 0;       // first byte in EncodedVideo::bytes
    size_t size = 0;         // bytes, stream headers included
    bool key = false;        // intra picture (MPEG-4 I-VOP, H.264 IDR)
    size_t headerBytes = 0;  // bytes in front of the picture itself: MPEG-4 VOS/VO/VOL/GOV up to
                             // the VOP start code; H.264 NAL units before the first slice
};

struct EncodedVideo {
    std::vector<uint8_t> bytes;  // the elementary stream: every frame, back to back
    std::vector<EncodedFrame> frames;
};

// MPEG-4 Visual (simple profile, no B-VOPs), headers in front of every key frame.
EncodedVideo EncodeMpeg4(const VideoOptions& options);

// H.264 Annex B (baseline profile, no B-frames), SPS and PPS in front of every key frame.
EncodedVideo EncodeH264(const VideoOptions& options);

// Every picture libavcodec's own decoder makes of `video`, apart from the program's decoder
// library: each frame sent as one packet with the decoder's default settings, drained at the
// end. Y, U, V with rows packed, one entry per picture in output order.
std::vector<std::vector<uint8_t>> ReferenceDecode(const EncodedVideo& video, bool h264);

// Offset of the first 00 00 01 `code` in bytes[from, to), or `to` when there is none.
size_t FindStartCode(const std::vector<uint8_t>& bytes, uint8_t code, size_t from, size_t to);

}  // namespace tavix::test
