#include "tests/video/test_h264.h"

#include "tests/support/test_video.h"

namespace tavix::test {
namespace {

std::vector<CodedFrame> Frames(const EncodedVideo& video) {
    std::vector<CodedFrame> frames;
    for (const EncodedFrame& f : video.frames)
        frames.push_back({std::vector<uint8_t>(video.bytes.begin() + f.offset,
                                               video.bytes.begin() + f.offset + f.size),
                          f.key});
    return frames;
}

}  // namespace

std::vector<CodedFrame> EncodeH264Frames(int width, int height, int count, int keyInterval) {
    return Frames(EncodeH264(
        {.width = width, .height = height, .frames = count, .keyInterval = keyInterval}));
}

std::vector<CodedFrame> EncodeMpeg4Frames(int width, int height, int count, int keyInterval) {
    return Frames(EncodeMpeg4(
        {.width = width, .height = height, .frames = count, .keyInterval = keyInterval}));
}

std::vector<std::vector<uint8_t>> ReferenceDecode(const std::vector<CodedFrame>& frames,
                                                  bool h264) {
    EncodedVideo video;
    for (const CodedFrame& f : frames) {
        video.frames.push_back({video.bytes.size(), f.bytes.size(), f.key, 0});
        video.bytes.insert(video.bytes.end(), f.bytes.begin(), f.bytes.end());
    }
    return ReferenceDecode(video, h264);
}

}  // namespace tavix::test
