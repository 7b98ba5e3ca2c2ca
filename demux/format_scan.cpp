#include "demux/format_scan.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"

namespace tavix {
namespace {

constexpr uint32_t kSequencedVideo = 0x000001F2;
constexpr uint32_t kH264Key = 0x000001FD;
constexpr uint32_t kMpeg4Key = 0x000001FB;
constexpr uint32_t kH264Dependent = 0x000001FC;
constexpr uint32_t kMpeg4Dependent = 0x000001FA;
constexpr uint32_t kOtherKey = 0x000001FE;
constexpr uint32_t kVop = 0x000001B6;
constexpr uint32_t kAudio = 0x000001F0;
constexpr uint32_t kPack = 0x000001BA;
constexpr uint32_t kRiff = 0x52494646;         // "RIFF"
constexpr uint32_t kChecksummed = 0x5A514D46;  // "ZQMF"
// The first four stored bytes of the ASF header object, video media and audio media GUIDs, and
// the twelve that follow them.
constexpr uint32_t kAsfHeader = 0x3026B275;
constexpr uint32_t kAsfVideoMedia = 0xC0EF19BC;
constexpr uint32_t kAsfAudioMedia = 0x409E69F8;
constexpr uint8_t kAsfHeaderRest[12] = {0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9,
                                        0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kAsfMediaRest[12] = {0x4D, 0x5B, 0xCF, 0x11, 0xA8, 0xFD,
                                       0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
// The header object's 30 fixed bytes, then the file properties object, whose minimum data
// packet size lies 92 bytes in; the stream properties object's flags lie 44 bytes behind the
// first four bytes of its stream type.
constexpr int kAsfPacketSizeAt = 118;
constexpr int kAsfStreamFlagsAt = 44;

bool IsMarker(uint32_t value) {
    switch (value) {
        case kSequencedVideo:
        case kH264Key:
        case kMpeg4Key:
        case kH264Dependent:
        case kMpeg4Dependent:
        case kOtherKey:
        case kVop:
        case kAudio:
        case kPack:
        case kRiff:
        case kChecksummed:
        case kAsfHeader:
        case kAsfVideoMedia:
        case kAsfAudioMedia:
            return true;
        default:
            return false;
    }
}

bool SameBytes(const uint8_t* p, const uint8_t (&bytes)[12]) {
    return std::memcmp(p, bytes, sizeof bytes) == 0;
}

bool PlausibleSequenced(const uint8_t* h) {
    if (h[1] >> 3 == 0) return false;
    const uint16_t v = ReadLe16(h + 2);
    const int width = (v >> 3 & 0x3F) * 16;
    const int height = (v >> 9) * 16;
    return (width == 704 || width == 352 || width == 176 || width == 720) &&
           (height == 576 || height == 480 || height == 288 || height == 240 || height == 144);
}

bool PlausiblePrivateKey(const uint8_t* h) {
    const int width = h[2] * 8;
    const int height = h[3] * 8;
    return width >= 160 && width <= 1920 && height >= 120 && height <= 1216 && (h[1] & 0x1F) != 0;
}

bool ChecksumMatches(const uint8_t* h) {
    unsigned sum = 35;
    for (int i = 0; i < 19; ++i)
        sum += h[i];
    return static_cast<uint8_t>(sum) == h[19];
}

// The AVI headers behind "RIFF": frame period and picture size of the main header, and the
// sample rate and block alignment of the first audio stream's format.
void ReadAviHeaders(const uint8_t* data, int count, FrameInfo* t) {
    constexpr uint32_t kMainHeader = 0x61766968;    // "avih"
    constexpr uint32_t kAudioStream = 0x61756473;   // "auds"
    constexpr uint32_t kStreamFormat = 0x73747266;  // "strf"
    uint32_t reg = 0xFFFFFFFF;
    bool audio = false;
    for (int i = 0; i < count; ++i) {
        reg = reg << 8 | data[i];
        const uint8_t* h = data + i + 1;
        const int after = count - 1 - i;
        if (reg == kMainHeader && after >= 44) {
            const uint32_t microseconds = ReadLe32(h + 4);
            t->frameRate = microseconds ? static_cast<int32_t>(1000000 / microseconds) : 0;
            t->width = static_cast<int32_t>(ReadLe32(h + 36));
            t->height = static_cast<int32_t>(ReadLe32(h + 40));
            i += 36;  // the scan goes on at the width
        } else if (reg == kAudioStream) {
            audio = true;
        } else if (reg == kStreamFormat && audio && after >= 21) {
            t->sampleRate = ReadLe32(h + 8);
            t->bitsPerSample = ReadLe16(h + 16) * 8;  // the block alignment, in bits
            break;
        }
    }
    if (t->bitsPerSample != 8 && t->bitsPerSample != 16) t->bitsPerSample = 8;
    if (t->sampleRate < 4000 || t->sampleRate > 48000) t->sampleRate = 8000;
}

}  // namespace

int NextFormatMarker(const uint8_t* data, int from, int length, PairFinder::Search search) {
    // A marker's second and third bytes are one of these pairs.
    static const PairFinder pairs(
        {{0x00, 0x01}, {'I', 'F'}, {'Q', 'M'}, {0x26, 0xB2}, {0xEF, 0x19}, {0x9E, 0x69}});
    for (int i = std::max(from, 3);;) {
        const int pairEnd = pairs.Find(data, i - 1, length - 1, search);
        if (pairEnd >= length - 1) return length;
        if (IsMarker(ReadBe32(data + pairEnd - 2))) return pairEnd + 1;
        i = pairEnd + 2;
    }
}

FormatScan ScanFormats(const uint8_t* data, int length) {
    FormatScan s;
    if (!data || length <= 0) return s;
    for (int i = NextFormatMarker(data, 0, length); i < length;
         i = NextFormatMarker(data, i + 1, length)) {
        const uint32_t marker = ReadBe32(data + i - 3);
        const uint8_t* h = data + i + 1;  // h[0]: the byte behind the marker
        const int after = length - 1 - i;
        bool counted = false;  // the marker counts, and ends the scan past the limit
        switch (marker) {
            case kSequencedVideo:
                counted = after >= 12 && PlausibleSequenced(h);
                s.sequenced = s.sequenced || counted;
                break;
            case kH264Key:
            case kMpeg4Key:
                counted = after >= 12 && PlausiblePrivateKey(h);
                s.privatePackets = s.privatePackets || counted;
                break;
            case kH264Dependent:
            case kMpeg4Dependent:
            case kOtherKey:
                counted = after >= 12;
                s.privatePackets = s.privatePackets || counted;
                break;
            case kVop:
                counted = s.vop = true;
                ++s.vopCount;
                break;
            case kAudio:
                counted = s.audioOnly = true;
                break;
            case kPack:
                counted = s.programStream = true;
                break;
            case kChecksummed:
                counted = after >= 20 && ChecksumMatches(h);
                s.checksummed = s.checksummed || counted;
                break;
            case kRiff:
                if (after >= 9 && std::memcmp(h + 4, "AVI ", 4) == 0) {
                    s.avi = true;
                    ReadAviHeaders(h, after, &s.aviTemplate);
                    return s;
                }
                break;
            case kAsfHeader:
                if (after >= 131 && SameBytes(h, kAsfHeaderRest)) {
                    s.asf = true;
                    s.asfPacketSize = ReadLe32(h + kAsfPacketSizeAt);
                }
                break;
            case kAsfVideoMedia:
                if (s.asf && after >= 81 && SameBytes(h, kAsfMediaRest)) {
                    s.asfVideoStream = h[kAsfStreamFlagsAt] & 0x7F;
                    return s;
                }
                break;
            case kAsfAudioMedia:
                if (s.asf && after >= 81 && SameBytes(h, kAsfMediaRest)) {
                    s.asfVideoStream = (h[kAsfStreamFlagsAt] & 0x7F) == 1 ? 2 : 1;
                    return s;
                }
                break;
            default:
                break;
        }
        if (counted && i + 1 > kFormatScanLimit) return s;
    }
    return s;
}

}  // namespace tavix
