#include "tests/support/frame_lines.h"

#include <cstdio>

namespace tavix::test {

FrameCopy CopyFrame(const FrameInfo& frame) {
    FrameCopy copy;
    copy.info = frame;
    copy.info.packet = nullptr;
    copy.info.payload = nullptr;
    if (frame.payload && frame.payloadLength > 0)
        copy.payload.assign(frame.payload, frame.payload + frame.payloadLength);
    if (frame.packet && frame.packetLength > 0)
        copy.packet.assign(frame.packet, frame.packet + frame.packetLength);
    return copy;
}

uint32_t Checksum(std::span<const uint8_t> bytes) {
    uint32_t hash = 2166136261u;
    for (uint8_t byte : bytes)
        hash = (hash ^ byte) * 16777619u;
    return hash;
}

std::string FrameLine(const FrameCopy& frame) {
    const FrameInfo& f = frame.info;
    char text[256];
    int n = 0;
    auto add = [&](const char* format, auto... values) {
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), format, values...);
    };
    if (f.kind == kKindVideo) {
        add("video %s codec=%d", f.dependent == 0 ? "key" : "dep", f.codec);
        if (f.dependent == 0)
            add(" %dx%d rate=%d time=%02d:%02d:%02d", f.width, f.height, f.frameRate, f.hour,
                f.minute, f.second);
    } else if (f.kind == kKindAudio) {
        add("audio codec=%d rate=%u bits=%d channels=%d", f.codec, f.sampleRate, f.bitsPerSample,
            f.channels);
    } else {
        add("other %d variant=%d", f.dependent, f.variant);
    }
    add(" payload=%d sum=%08x", f.payloadLength, Checksum(frame.payload));
    return text;
}

std::vector<std::string> FrameLines(const std::vector<FrameCopy>& frames) {
    std::vector<std::string> lines;
    for (const FrameCopy& frame : frames)
        lines.push_back(FrameLine(frame));
    return lines;
}

FrameCopy ExpectedVideo(bool key, int32_t codec, const PictureInfo& info,
                        std::span<const uint8_t> payload) {
    FrameCopy frame;
    frame.info.kind = kKindVideo;
    frame.info.dependent = key ? 0 : 1;
    frame.info.codec = codec;
    frame.info.width = info.width;
    frame.info.height = info.height;
    frame.info.frameRate = info.frameRate;
    frame.info.hour = info.time.hour;
    frame.info.minute = info.time.minute;
    frame.info.second = info.time.second;
    frame.info.payloadLength = static_cast<int32_t>(payload.size());
    frame.payload.assign(payload.begin(), payload.end());
    return frame;
}

FrameCopy ExpectedAudio(int32_t codec, uint32_t sampleRate, int32_t bitsPerSample, int32_t channels,
                        std::span<const uint8_t> payload) {
    FrameCopy frame;
    frame.info.kind = kKindAudio;
    frame.info.codec = codec;
    frame.info.sampleRate = sampleRate;
    frame.info.bitsPerSample = bitsPerSample;
    frame.info.channels = channels;
    frame.info.payloadLength = static_cast<int32_t>(payload.size());
    frame.payload.assign(payload.begin(), payload.end());
    return frame;
}

std::vector<std::string> ExpectedLines(const std::vector<MediaUnit>& units, const PictureInfo& info,
                                       int32_t videoCodec, const AudioFields& audio) {
    std::vector<std::string> lines;
    for (const MediaUnit& unit : units)
        lines.push_back(
            FrameLine(unit.video ? ExpectedVideo(unit.key, videoCodec, info, unit.bytes)
                                 : ExpectedAudio(audio.codec, audio.sampleRate, audio.bitsPerSample,
                                                 audio.channels, unit.bytes)));
    return lines;
}

}  // namespace tavix::test
