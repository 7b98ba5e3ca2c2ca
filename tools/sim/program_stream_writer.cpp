#include "tools/sim/program_stream_writer.h"

#include <algorithm>

namespace tavix::sim {
namespace {

struct SizeCode {
    int width;
    int height;
};
constexpr SizeCode kSizeCodes[] = {
    {704, 576}, {352, 576}, {704, 288},  {352, 288},  {176, 144},   {640, 480},   {320, 240},
    {480, 480}, {800, 592}, {1024, 768}, {1280, 800}, {1280, 1024}, {1600, 1024}, {1600, 1200}};

constexpr uint32_t kMuxRate = 25000;  // units of 50 bytes/s: 10 Mbit/s
constexpr uint8_t kVideoStream = 0xE0;
constexpr uint8_t kH264StreamType = 0x1B;
constexpr uint8_t kMpeg4StreamType = 0x10;
constexpr uint8_t kDeviceDescriptor = 0x80;
constexpr size_t kPackHeader = 14;
constexpr size_t kSystemHeader = 15;
constexpr size_t kMapFixed = 10;        // start code, length, flags, info length
constexpr size_t kDescriptorData = 47;  // reaches past byte 85 of the pack
constexpr uint64_t kPtsStart = 90000;   // one second in, so that SCR stays positive
constexpr uint64_t kScrLead = 3600;     // the pack is read 40 ms before its picture is due

void PutBe16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

bool IsMiddlePiece(size_t length) {
    for (size_t middle : ProgramStreamWriter::kMiddlePieces)
        if (length == middle) return true;
    return false;
}

// A 5-byte time stamp: `prefix` in the top four bits, then the 33 bits with marker bits.
void PutTimeStamp(uint8_t prefix, uint64_t time, Bytes& out) {
    out.push_back(static_cast<uint8_t>(prefix << 4 | ((time >> 29) & 0x0E) | 0x01));
    out.push_back(static_cast<uint8_t>(time >> 22));
    out.push_back(static_cast<uint8_t>(((time >> 14) & 0xFE) | 0x01));
    out.push_back(static_cast<uint8_t>(time >> 7));
    out.push_back(static_cast<uint8_t>(((time << 1) & 0xFE) | 0x01));
}

}  // namespace

int ProgramStreamSizeCode(int width, int height) {
    for (size_t i = 0; i < std::size(kSizeCodes); ++i) {
        if (kSizeCodes[i].width == width && kSizeCodes[i].height == height)
            return static_cast<int>(i);
    }
    return -1;
}

std::string ProgramStreamSizes() {
    std::string text;
    for (const SizeCode& size : kSizeCodes) {
        if (!text.empty()) text += ", ";
        text += std::to_string(size.width) + "x" + std::to_string(size.height);
    }
    return text;
}

uint32_t MpegCrc32(const uint8_t* data, size_t length) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) != 0 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

void ProgramStreamWriter::Write(const VideoFrame& frame, Bytes& out) {
    uint64_t pts = kPtsStart + uint64_t{frame.frameNumber} * 90000 /
                                   static_cast<uint64_t>(std::max(frame.frameRate, 1));
    WritePack(pts - kScrLead, out);
    if (frame.key) {
        WriteSystemHeader(out);
        WriteMap(ProgramStreamSizeCode(frame.width, frame.height), frame.frameRate,
                 frame.codec == VideoCodec::kMpeg4 ? kMpeg4StreamType : kH264StreamType, out);
    }
    const size_t splitPayload = kSplitLength - 8;
    if (frame.size <= kMaxPesPayload) {
        // A whole frame whose PES length would read as "continued" gets a stuffing byte.
        WritePes(pts, frame.data, frame.size, frame.size == splitPayload ? 1 : 0, out);
        return;
    }
    // The last piece must not have a middle piece's length: where the rest after the first
    // packet would, the first takes one byte less (and a stuffing byte); later, each middle
    // piece is chosen so that what remains is not one.
    size_t first = IsMiddlePiece(frame.size - splitPayload) ? splitPayload - 1 : splitPayload;
    WritePes(pts, frame.data, first, splitPayload - first, out);
    size_t at = first;
    const size_t maxLast = 0xFFFF - 13;
    while (frame.size - at > maxLast) {
        size_t rest = frame.size - at;
        size_t piece = kMiddlePieces[0];
        for (size_t middle : kMiddlePieces) {
            if (!IsMiddlePiece(rest - middle)) {
                piece = middle;
                break;
            }
        }
        WriteContinuation(pts, frame.data + at, piece, out);
        at += piece;
    }
    WriteContinuation(pts, frame.data + at, frame.size - at, out);
}

void ProgramStreamWriter::WritePack(uint64_t scr, Bytes& out) {
    out.insert(out.end(), {0x00, 0x00, 0x01, 0xBA});
    // '01', SCR base in 3 + 15 + 15 bits with marker bits, extension 0, marker.
    out.push_back(static_cast<uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)));
    out.push_back(static_cast<uint8_t>(scr >> 20));
    out.push_back(static_cast<uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)));
    out.push_back(static_cast<uint8_t>(scr >> 5));
    out.push_back(static_cast<uint8_t>(((scr << 3) & 0xF8) | 0x04));
    out.push_back(0x01);
    out.push_back(static_cast<uint8_t>(kMuxRate >> 14));
    out.push_back(static_cast<uint8_t>(kMuxRate >> 6));
    out.push_back(static_cast<uint8_t>((kMuxRate << 2) | 0x03));
    out.push_back(0xF8);  // reserved, no stuffing
}

void ProgramStreamWriter::WriteSystemHeader(Bytes& out) {
    out.insert(out.end(), {0x00, 0x00, 0x01, 0xBB});
    PutBe16(out, kSystemHeader - 6);
    // rate bound (with markers), no audio, video locked, one video stream, then the stream's
    // buffer bound: 232 KiB.
    out.push_back(static_cast<uint8_t>(0x80 | (kMuxRate >> 15)));
    out.push_back(static_cast<uint8_t>(kMuxRate >> 7));
    out.push_back(static_cast<uint8_t>((kMuxRate << 1) | 0x01));
    out.insert(out.end(), {0x00, 0xE1, 0x7F, kVideoStream, 0xE0, 0xE8});
}

void ProgramStreamWriter::WriteMap(int sizeCode, int frameRate, uint8_t streamType, Bytes& out) {
    size_t start = out.size();
    size_t packStart = start - kPackHeader - kSystemHeader;
    out.insert(out.end(), {0x00, 0x00, 0x01, 0xBC});
    size_t descriptors = 2 + kDescriptorData;
    PutBe16(out, static_cast<uint16_t>(kMapFixed - 6 + descriptors + 2 + 4 + 4));
    out.push_back(0xE0);  // current, version 0
    out.push_back(0xFF);
    PutBe16(out, static_cast<uint16_t>(descriptors));
    out.push_back(kDeviceDescriptor);
    out.push_back(static_cast<uint8_t>(kDescriptorData));
    // 0xFF around the two values: no start code can form inside the descriptor.
    out.insert(out.end(), kDescriptorData, 0xFF);
    out[packStart + kSizeCodeAt] = static_cast<uint8_t>(sizeCode);
    out[packStart + kSizeCodeAt + 1] = static_cast<uint8_t>(frameRate);
    PutBe16(out, 4);  // one elementary stream, no descriptors
    out.insert(out.end(), {streamType, kVideoStream, 0x00, 0x00});
    out.insert(out.end(), 4, 0);
    uint32_t crc = MpegCrc32(&out[start], out.size() - start - 4);
    for (int i = 0; i < 4; ++i)
        out[out.size() - 4 + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

void ProgramStreamWriter::WritePes(uint64_t pts, const uint8_t* data, size_t size, size_t stuffing,
                                   Bytes& out) {
    out.insert(out.end(), {0x00, 0x00, 0x01, kVideoStream});
    PutBe16(out, static_cast<uint16_t>(size + 8 + stuffing));
    out.push_back(0x84);  // data aligned
    out.push_back(0x80);  // PTS only
    out.push_back(static_cast<uint8_t>(5 + stuffing));
    PutTimeStamp(0x2, pts, out);
    out.insert(out.end(), stuffing, 0xFF);
    out.insert(out.end(), data, data + size);
}

void ProgramStreamWriter::WriteContinuation(uint64_t pts, const uint8_t* data, size_t size,
                                            Bytes& out) {
    out.insert(out.end(), {0x00, 0x00, 0x01, kVideoStream});
    PutBe16(out, static_cast<uint16_t>(size + 13));
    out.push_back(0x80);
    out.push_back(0xC0);  // PTS and DTS
    out.push_back(0x0A);
    PutTimeStamp(0x3, pts, out);
    PutTimeStamp(0x1, pts, out);
    out.insert(out.end(), data, data + size);
}

}  // namespace tavix::sim
