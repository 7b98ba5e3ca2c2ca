// The demultiplexer the decoder owns: recognises the container format of a media stream from
// its first data, creates the parser for it and hands out the parser's frames.
//
// Ownership: owns its parser and the 512 KiB work buffer it lends the parser (which grows past
// it, as large pictures need, into storage of its own). Frames returned by NextFrame and
// NextKeyFrame (and the bytes they point to) stay valid until the next Feed or Reset, and only
// while the chunk given to the last Feed is alive: copy what you keep.
// Threads: none inside; one thread at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "demux/format_scan.h"
#include "demux/frame_info.h"
#include "demux/stream_parser.h"

namespace tavix {

// The container formats: each selects one parser class. The numbers are the format types
// tools and stored settings give (tavix-probe --format); no format has the number 2.
enum StreamFormat : int {
    kFormatNone = 0,           // not recognised yet
    kFormatMpeg4Es = 1,        // MPEG-4 Visual elementary stream (also inside AVI)
    kFormatTagged = 3,         // device packets introduced by "KRLW"
    kFormatPrivate = 4,        // device packets 00 00 01 F0, F1, FA-FE
    kFormatSequenced = 5,      // device packets 00 00 01 F2 (video) and F0 (audio)
    kFormatPrivateAudio = 6,   // type 4's parser, chosen on audio packets alone
    kFormatProgramStream = 7,  // MPEG-2 program stream
    kFormatChecksummed = 8,    // device packets "ZQMF" with a checksum
    kFormatAsf = 9,            // ASF file or stream
};

class StreamDemuxer {
  public:
    // Nothing recognised yet, no parser. Throws std::bad_alloc when the buffer cannot be had.
    StreamDemuxer();
    // Creates the parser of `format` at once: a plain elementary stream, tagged, private and
    // sequenced packets are accepted; any other value leaves kFormatNone and no parser.
    explicit StreamDemuxer(int format);
    ~StreamDemuxer();
    StreamDemuxer(const StreamDemuxer&) = delete;
    StreamDemuxer& operator=(const StreamDemuxer&) = delete;

    // As the constructors, but null when memory runs out.
    static std::unique_ptr<StreamDemuxer> Create();
    static std::unique_ptr<StreamDemuxer> Create(int formatType);

    // Hands one chunk to the demultiplexer: while no format (or only audio, type 6) is known,
    // recognition runs over it first. Returns the parser's Feed result, or -1 when the chunk was
    // dropped because nothing was recognised or there is no parser.
    int Feed(const uint8_t* data, int length);

    // The oldest ready frame, or null (also before recognition).
    FrameInfo* NextFrame();
    // The oldest ready key frame, discarding the frames before it, or null.
    FrameInfo* NextKeyFrame();

    // Mode 0 with kind 4: a fresh private-packet parser (type 4). Mode 0 with another kind: the
    // next Feed recognises the format again (the old parser stays until then). Other modes go to
    // the parser's Reset. Returns 0, or -1 while nothing is recognised (type 0) or without a
    // parser.
    int Reset(int mode, int kind);

    StreamFormat FormatType() const { return formatType; }
    // VOP start codes seen by the last recognition pass.
    int VopCount() const { return vopCount; }
    bool HasParser() const { return parser != nullptr; }

  private:
    // Scans a chunk for the markers of the known formats and installs the parser of the most
    // specific one found. 0 when a format was chosen (or audio alone keeps a type-6 parser), -1
    // when nothing was recognised.
    int Recognize(const uint8_t* data, int length);
    // The parser of a format type, or null (unknown type, or out of memory). `scan` gives the
    // stream properties of ASF and AVI.
    std::unique_ptr<StreamParser> NewParser(StreamFormat type, const FormatScan* scan = nullptr);

    std::unique_ptr<uint8_t[]> workBuffer;  // kWorkBufferSize bytes, lent to the parser
    std::unique_ptr<StreamParser> parser;
    StreamFormat formatType = kFormatNone;
    int vopCount = 0;
};

}  // namespace tavix
