// tavix-probe inspect: feeds a stored stream to the demultiplexer in chunks, as the player feeds
// what the recorder sends, and lists every frame that comes out.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
}

#include "demux/frame_info.h"
#include "demux/stream_demuxer.h"
#include "demux/stream_parser.h"
#include "tools/tavix-probe/commands.h"

namespace tavix::probe {
namespace {

constexpr int kDefaultChunk = 2048;

struct Options {
    std::string file;
    int chunk = kDefaultChunk;
    int format = kFormatNone;  // 0: recognise
    bool json = false;
    bool md5 = false;
};

struct Totals {
    long long frames = 0;
    long long byKind[4] = {};  // other kinds counted as 3
    long long keyFrames = 0;   // video with dependent 0
    long long damaged = 0;
    long long bytes = 0;
    long long chunks = 0;
    long long refused = 0;  // chunks for which Feed returned -1
};

void PrintHelp(FILE* to) {
    std::fprintf(
        to,
        "Usage: tavix-probe inspect FILE [--chunk BYTES] [--format TYPE] [--json] [--md5]\n"
        "\n"
        "Feeds FILE ('-' for standard input) to the stream demultiplexer in chunks of BYTES, as\n"
        "the player feeds what a recorder sends, takes every frame out after each chunk and\n"
        "prints one line per frame, then a line that counts the frames by kind and the bytes "
        "fed.\n"
        "\n"
        "Options:\n"
        "  --chunk BYTES  bytes per chunk, 1 to %d (default %d)\n"
        "  --format TYPE  use the parser of format TYPE instead of recognising the format:\n"
        "                 1 MPEG-4 Visual elementary stream, 3 \"KRLW\" tagged frames,\n"
        "                 4 private packets, 5 sequenced packets\n"
        "  --json         one JSON object per line with the frame record's fields (kind,\n"
        "                 dependent, codec, year, month, day, hour, minute, second, timeOfDay,\n"
        "                 frameRate, width, height, channels, bitsPerSample, sampleRate,\n"
        "                 attribute, variant, packetLength, payloadLength), its index and the\n"
        "                 demultiplexer's format type at that moment (format); the last line is\n"
        "                 {\"summary\": {...}}\n"
        "  --md5          add the MD5 of each frame's payload (payloadMd5)\n"
        "  --help         show this help\n"
        "\n"
        "Without --format the format is recognised from the first chunk, as the player does:\n"
        "1 MPEG-4 Visual (elementary stream or AVI), 4 private packets (6 while only their\n"
        "audio came), 5 sequenced packets, 7 MPEG-2 program stream, 8 checksummed packets,\n"
        "9 ASF. Chunks are refused until one holds a format's marker.\n"
        "\n"
        "A frame ends where the next one begins, so the last one of FILE may not be listed.\n"
        "Records are reused without being cleared: a field that a frame's format does not set\n"
        "shows the value of an earlier frame. A payload length of 0 marks a damaged frame.\n"
        "\n"
        "Exit status: 0 when FILE was read to its end, 1 when it could not be read or the\n"
        "format has no parser, 2 for a usage error.\n",
        kWorkBufferSize, kDefaultChunk);
}

// Returns kExitOk with `options` filled, kExitUsage after an error message, or -1 for --help.
int ParseArguments(int argc, char** argv, Options* options) {
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") return -1;
        if (argument == "--json") {
            options->json = true;
            continue;
        }
        if (argument == "--md5") {
            options->md5 = true;
            continue;
        }
        if (argument.starts_with("--chunk") || argument.starts_with("--format")) {
            bool chunk = argument.starts_with("--chunk");
            std::string_view name = chunk ? "--chunk" : "--format";
            std::string_view value;
            if (argument.size() > name.size() && argument[name.size()] == '=') {
                value = argument.substr(name.size() + 1);
            } else if (argument.size() == name.size() && i + 1 < argc) {
                value = argv[++i];
            } else if (argument.size() == name.size()) {
                return UsageError("inspect", std::string(name) + " needs a value");
            } else {
                return UsageError("inspect", "unknown option '" + std::string(argument) + "'");
            }
            bool ok = chunk ? ParseNumber(value, 1, kWorkBufferSize, &options->chunk)
                            : ParseNumber(value, 0, kFormatAsf, &options->format);
            if (!ok)
                return UsageError(
                    "inspect", "bad value '" + std::string(value) + "' for " + std::string(name));
            continue;
        }
        if (argument.size() > 1 && argument[0] == '-')
            return UsageError("inspect", "unknown option '" + std::string(argument) + "'");
        if (haveFile) return UsageError("inspect", "only one FILE, please");
        options->file = argument;
        haveFile = true;
    }
    if (!haveFile) return UsageError("inspect", "no FILE given");
    return kExitOk;
}

const char* KindName(int32_t kind) {
    switch (kind) {
        case kKindVideo:
            return "video";
        case kKindAudio:
            return "audio";
        case kKindOther:
            return "other";
        default:
            return "?";
    }
}

std::string Md5Hex(const FrameInfo& frame) {
    uint8_t digest[16];
    size_t length =
        frame.payload && frame.payloadLength > 0 ? static_cast<size_t>(frame.payloadLength) : 0;
    static const uint8_t kNothing = 0;
    av_md5_sum(digest, length ? frame.payload : &kNothing, length);
    char hex[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

void PrintTableHead(const Options& options) {
    std::printf("%7s  %-5s  %-9s  %5s  %-11s  %5s  %-19s  %8s  %8s%s\n", "index", "kind",
                "dependent", "codec", "size", "rate", "time", "packet", "payload",
                options.md5 ? "  payload md5" : "");
}

void PrintRow(long long index, const FrameInfo& f, const Options& options) {
    char dependent[16];
    if (f.dependent == 0)
        std::snprintf(dependent, sizeof dependent, "key");
    else
        std::snprintf(dependent, sizeof dependent, "%d", f.dependent);
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", f.width, f.height);
    char time[48];
    if (f.year != 0)
        std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day,
                      f.hour, f.minute, f.second);
    else
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", f.hour, f.minute, f.second);
    std::printf("%7lld  %-5s  %-9s  %5d  %-11s  %5d  %-19s  %8d  %8d", index, KindName(f.kind),
                dependent, f.codec, size, f.frameRate, time, f.packetLength, f.payloadLength);
    if (options.md5) std::printf("  %s", Md5Hex(f).c_str());
    std::printf("\n");
}

void PrintJson(long long index, int format, const FrameInfo& f, const Options& options) {
    std::printf(
        "{\"index\":%lld,\"format\":%d,\"kind\":%d,\"dependent\":%d,\"codec\":%d,\"year\":%d,"
        "\"month\":%d,\"day\":%d,\"hour\":%d,\"minute\":%d,\"second\":%d,\"timeOfDay\":%d,"
        "\"frameRate\":%d,\"width\":%d,\"height\":%d,\"channels\":%d,\"bitsPerSample\":%d,"
        "\"sampleRate\":%u,\"attribute\":%u,\"variant\":%d,\"packetLength\":%d,"
        "\"payloadLength\":%d",
        index, format, f.kind, f.dependent, f.codec, f.year, f.month, f.day, f.hour, f.minute,
        f.second, f.timeOfDay, f.frameRate, f.width, f.height, f.channels, f.bitsPerSample,
        f.sampleRate, f.attribute, f.variant, f.packetLength, f.payloadLength);
    if (options.md5) std::printf(",\"payloadMd5\":\"%s\"", Md5Hex(f).c_str());
    std::printf("}\n");
}

const char* FormatName(int format) {
    switch (format) {
        case kFormatMpeg4Es:
            return "MPEG-4 Visual";
        case kFormatTagged:
            return "tagged frames";
        case kFormatPrivate:
            return "private packets";
        case kFormatSequenced:
            return "sequenced packets";
        case kFormatPrivateAudio:
            return "private packets, audio only";
        case kFormatProgramStream:
            return "program stream";
        case kFormatChecksummed:
            return "checksummed packets";
        case kFormatAsf:
            return "ASF";
        default:
            return "not recognised";
    }
}

void PrintSummary(const Totals& t, int format, const Options& options) {
    if (options.json) {
        std::printf(
            "{\"summary\":{\"frames\":%lld,\"video\":%lld,\"audio\":%lld,\"other\":%lld,"
            "\"keyFrames\":%lld,\"damaged\":%lld,\"bytes\":%lld,\"chunks\":%lld,"
            "\"refused\":%lld,\"format\":%d}}\n",
            t.frames, t.byKind[kKindVideo], t.byKind[kKindAudio], t.byKind[kKindOther], t.keyFrames,
            t.damaged, t.bytes, t.chunks, t.refused, format);
        return;
    }
    std::printf(
        "%lld frames: %lld video (%lld key), %lld audio, %lld other; %lld damaged; "
        "%lld bytes fed in %lld chunks, %lld refused; format type %d (%s)\n",
        t.frames, t.byKind[kKindVideo], t.keyFrames, t.byKind[kKindAudio], t.byKind[kKindOther],
        t.damaged, t.bytes, t.chunks, t.refused, format, FormatName(format));
}

struct FileCloser {
    void operator()(FILE* file) const {
        if (file != stdin) std::fclose(file);
    }
};

}  // namespace

int RunInspect(int argc, char** argv) {
    Options options;
    int parsed = ParseArguments(argc, argv, &options);
    if (parsed < 0) {
        PrintHelp(stdout);
        return kExitOk;
    }
    if (parsed != kExitOk) return parsed;

    std::unique_ptr<FILE, FileCloser> file(
        options.file == "-" ? stdin : std::fopen(options.file.c_str(), "rb"));
    if (!file) {
        std::fprintf(stderr, "tavix-probe inspect: cannot open %s: %s\n", options.file.c_str(),
                     std::strerror(errno));
        return kExitFailure;
    }
    std::unique_ptr<StreamDemuxer> demuxer = options.format == kFormatNone
                                                 ? StreamDemuxer::Create()
                                                 : StreamDemuxer::Create(options.format);
    if (!demuxer) {
        std::fprintf(stderr, "tavix-probe inspect: out of memory\n");
        return kExitFailure;
    }
    if (options.format != kFormatNone && !demuxer->HasParser()) {
        std::fprintf(stderr, "tavix-probe inspect: format type %d cannot be chosen: no parser\n",
                     options.format);
        return kExitFailure;
    }

    if (!options.json) PrintTableHead(options);
    Totals totals;
    std::vector<uint8_t> chunk(static_cast<size_t>(options.chunk));
    for (;;) {
        size_t n = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (n == 0) break;
        ++totals.chunks;
        totals.bytes += static_cast<long long>(n);
        if (demuxer->Feed(chunk.data(), static_cast<int>(n)) < 0) ++totals.refused;
        while (const FrameInfo* frame = demuxer->NextFrame()) {
            if (options.json)
                PrintJson(totals.frames, demuxer->FormatType(), *frame, options);
            else
                PrintRow(totals.frames, *frame, options);
            ++totals.frames;
            int kind =
                frame->kind >= kKindVideo && frame->kind <= kKindOther ? frame->kind : kKindOther;
            ++totals.byKind[kind];
            if (frame->kind == kKindVideo && frame->dependent == 0) ++totals.keyFrames;
            if (frame->payloadLength == 0) ++totals.damaged;
        }
    }
    if (std::ferror(file.get())) {
        std::fprintf(stderr, "tavix-probe inspect: cannot read %s: %s\n", options.file.c_str(),
                     std::strerror(errno));
        return kExitFailure;
    }
    PrintSummary(totals, demuxer->FormatType(), options);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace tavix::probe
