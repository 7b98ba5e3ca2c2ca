#include "demux/stream_demuxer.h"

#include <new>

#include "demux/mpeg4_es_parser.h"

namespace tavix {

StreamDemuxer::StreamDemuxer()
    : workBuffer(std::make_unique_for_overwrite<uint8_t[]>(kWorkBufferSize)) {}

StreamDemuxer::StreamDemuxer(int type) : StreamDemuxer() {
    switch (type) {
        case kFormatMpeg4Es:
        case kFormatTagged:
        case kFormatPrivate:
        case kFormatSequenced:
            formatType = type;
            parser = NewParser(type);
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

std::unique_ptr<StreamParser> StreamDemuxer::NewParser(int type) {
    try {
        switch (type) {
            case kFormatMpeg4Es:
                return std::make_unique<Mpeg4EsParser>(workBuffer.get(), Mpeg4EsParser::kModePlain);
            // The device packet formats (types 3, 4, 5, 6 and 8), the program stream (7) and
            // ASF (9) come with their parsers; until then their type has no parser, as after
            // running out of memory.
            default:
                return nullptr;
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int StreamDemuxer::Recognize(const uint8_t*, int) {
    // The recognising scan comes with the parsers of the formats it chooses among.
    return -1;
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
