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

}  // namespace tavix::test
