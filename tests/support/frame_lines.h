// Golden per-frame output for demultiplexer tests: frames fed and drained, copied out, and
// written one line per frame.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "demux/frame_info.h"
#include "tests/support/stream_writers.h"

namespace tavix::test {

// A frame copied out of the demultiplexer while it was valid.
struct FrameCopy {
    FrameInfo info{};  // packet and payload point nowhere once copied: they are null here
    std::vector<uint8_t> payload;
    std::vector<uint8_t> packet;
};

FrameCopy CopyFrame(const FrameInfo& frame);

// Feeds `bytes` to `source` (a parser or a demultiplexer) in chunks of `chunk` bytes (the first
// one `firstChunk` bytes, when given), each chunk in a buffer of its own that dies after the
// frames were drained, and drains every frame with NextFrame after each chunk, as the decoder
// does.
template <class Source>
std::vector<FrameCopy> FeedInChunks(Source& source, std::span<const uint8_t> bytes, size_t chunk,
                                    size_t firstChunk = 0) {
    std::vector<FrameCopy> frames;
    for (size_t at = 0; at < bytes.size();) {
        size_t n = std::min(at == 0 && firstChunk > 0 ? firstChunk : chunk, bytes.size() - at);
        std::vector<uint8_t> piece(bytes.begin() + at, bytes.begin() + at + n);
        source.Feed(piece.data(), static_cast<int>(n));
        while (const FrameInfo* frame = source.NextFrame())
            frames.push_back(CopyFrame(*frame));
        at += n;
    }
    return frames;
}

// One line with what the frame itself tells: kind, key or dependent, and by kind the codec,
// size, rate and time (key video), the audio format, the private-data type; then the payload
// length and a checksum of the payload. Fields a frame does not set keep the values of the
// record's earlier use and are left out.
std::string FrameLine(const FrameCopy& frame);
std::vector<std::string> FrameLines(const std::vector<FrameCopy>& frames);

// FNV-1a over the bytes.
uint32_t Checksum(std::span<const uint8_t> bytes);

// The frame a parser should deliver, with the fields FrameLine shows.
FrameCopy ExpectedVideo(bool key, int32_t codec, const PictureInfo& info,
                        std::span<const uint8_t> payload);
FrameCopy ExpectedAudio(int32_t codec, uint32_t sampleRate, int32_t bitsPerSample, int32_t channels,
                        std::span<const uint8_t> payload);

// The lines of the frames wrapped units come out as: one per picture (key pictures with the
// size, rate and time of `info`, codec `videoCodec`), one per audio block as `audio` says.
struct AudioFields {
    int32_t codec = 14;
    uint32_t sampleRate = 8000;
    int32_t bitsPerSample = 16;
    int32_t channels = 1;
};
std::vector<std::string> ExpectedLines(const std::vector<MediaUnit>& units, const PictureInfo& info,
                                       int32_t videoCodec, const AudioFields& audio = {});

}  // namespace tavix::test
