#include "demux/stream_demuxer.h"

#include <new>

#include "demux/asf_parser.h"
#include "demux/checksummed_packet_parser.h"
#include "demux/mpeg4_es_parser.h"
#include "demux/private_packet_parser.h"
#include "demux/program_stream_parser.h"
#include "demux/sequenced_packet_parser.h"
#include "demux/tagged_frame_parser.h"

namespace tavix {

StreamDemuxer::StreamDemuxer()
    : workBuffer(std::make_unique_for_overwrite<uint8_t[]>(kWorkBufferSize)) {}

StreamDemuxer::StreamDemuxer(int type) : StreamDemuxer() {
    switch (type) {
        case kFormatMpeg4Es:
        case kFormatTagged:
        case kFormatPrivate:
        case kFormatSequenced:
            formatType = static_cast<StreamFormat>(type);
            parser = NewParser(formatType);
            break;
        default:
            break;
    }
}

StreamDemuxer::~StreamDemuxer() = default;

std::unique_ptr<StreamDemuxer> StreamDemuxer::Create() {
    try {
        return std::make_unique<StreamDemuxer>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::unique_ptr<StreamDemuxer> StreamDemuxer::Create(int type) {
    try {
        return std::make_unique<StreamDemuxer>(type);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::unique_ptr<StreamParser> StreamDemuxer::NewParser(StreamFormat type, const FormatScan* scan) {
    uint8_t* buffer = workBuffer.get();
    try {
        switch (type) {
            case kFormatMpeg4Es:
                if (scan && scan->avi)
                    return std::make_unique<Mpeg4EsParser>(buffer, Mpeg4EsParser::kModeAvi,
                                                           &scan->aviTemplate);
                return std::make_unique<Mpeg4EsParser>(buffer, Mpeg4EsParser::kModePlain);
            case kFormatTagged:
                return std::make_unique<TaggedFrameParser>(buffer);
            case kFormatPrivate:
            case kFormatPrivateAudio:
                return std::make_unique<PrivatePacketParser>(buffer);
            case kFormatSequenced:
                return std::make_unique<SequencedPacketParser>(buffer);
            case kFormatProgramStream:
                return std::make_unique<ProgramStreamParser>(buffer);
            case kFormatChecksummed:
                return std::make_unique<ChecksummedPacketParser>(buffer);
            case kFormatAsf:
                return std::make_unique<AsfParser>(
                    buffer, scan ? static_cast<int32_t>(scan->asfPacketSize) : 0,
                    scan ? scan->asfVideoStream : 1);
            case kFormatNone:
                break;
        }
        return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int StreamDemuxer::Recognize(const uint8_t* data, int length) {
    const FormatScan scan = ScanFormats(data, length);
    vopCount = scan.vopCount;
    // The most specific format found wins.
    const StreamFormat type = scan.sequenced        ? kFormatSequenced
                              : scan.asf            ? kFormatAsf
                              : scan.avi            ? kFormatMpeg4Es
                              : scan.checksummed    ? kFormatChecksummed
                              : scan.privatePackets ? kFormatPrivate
                              : scan.programStream  ? kFormatProgramStream
                              : scan.vop            ? kFormatMpeg4Es
                                                    : kFormatNone;
    if (type != kFormatNone) {
        parser.reset();
        formatType = type;
        parser = NewParser(type, &scan);
        if (type == kFormatMpeg4Es && !scan.avi) vopCount = 0;
        return 0;
    }
    if (!scan.audioOnly) return -1;
    // Audio packets alone: the private-packet parser, kept while only audio comes.
    if (formatType != kFormatPrivateAudio) {
        parser.reset();
        formatType = kFormatPrivateAudio;
        parser = NewParser(kFormatPrivateAudio);
    }
    return 0;
}

int StreamDemuxer::Feed(const uint8_t* data, int length) {
    if (formatType == kFormatNone || formatType == kFormatPrivateAudio) {
        if (Recognize(data, length) < 0 && !(formatType == kFormatPrivateAudio && parser))
            return -1;
    }
    if (!parser) return -1;
    return parser->Feed(data, length);
}

FrameInfo* StreamDemuxer::NextFrame() {
    if (formatType == kFormatNone || !parser) return nullptr;
    return parser->NextFrame();
}

FrameInfo* StreamDemuxer::NextKeyFrame() {
    if (formatType == kFormatNone || !parser) return nullptr;
    return parser->NextKeyFrame();
}

int StreamDemuxer::Reset(int mode, int kind) {
    if (formatType == kFormatNone) {
        if (kind == kFormatPrivate && mode == 0) {
            formatType = kFormatPrivate;
            parser = NewParser(kFormatPrivate);
        }
        return -1;
    }
    if (mode != 0) return parser ? parser->Reset(mode) : -1;
    if (kind == kFormatPrivate) {
        parser.reset();
        formatType = kFormatPrivate;
        parser = NewParser(kFormatPrivate);
        return 0;
    }
    formatType = kFormatNone;
    return 0;
}

}  // namespace tavix
