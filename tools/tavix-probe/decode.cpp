// tavix-probe decode: pushes a stored stream through the decoder in chunks, as the client
// thread pushes what the recorder sends, and takes every picture as the live view does.
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
}

#include <QImage>

#include "demux/stream_demuxer.h"
#include "platform/thread.h"
#include "tools/tavix-probe/commands.h"
#include "video/decoder.h"

namespace tavix::probe {
namespace {

constexpr int kDefaultChunk = 2048;
constexpr int kMaxChunk = kPacketByteLimit;  // the decoder's packet queue holds no more

struct Options {
    std::string file;
    int chunk = kDefaultChunk;
    int depth = 32;
    int format = kFormatNone;  // 0: recognise
    bool frameMd5 = false;
    std::string outDirectory;
};

void PrintHelp(FILE* to) {
    std::fprintf(
        to,
        "Usage: tavix-probe decode FILE [--chunk BYTES] [--depth 16|24|32] [--format TYPE]\n"
        "                          [--framemd5] [--out DIR]\n"
        "\n"
        "Pushes FILE ('-' for standard input) through the decoder in chunks of BYTES, as the\n"
        "player pushes what a recorder sends (waiting for room rather than losing a chunk),\n"
        "takes every picture until the stream is drained and prints a summary: the pictures,\n"
        "their sizes and the decoding rate in pictures per second.\n"
        "\n"
        "Options:\n"
        "  --chunk BYTES  bytes per chunk, 1 to %d (default %d)\n"
        "  --depth BITS   the display's bits per pixel, which chooses the conversion: 16\n"
        "                 (RGB565), 24 (BGR) or 32 (BGRA, the default)\n"
        "  --format TYPE  use the parser of format TYPE instead of recognising the format:\n"
        "                 1 MPEG-4 Visual elementary stream, 3 \"KRLW\" tagged frames,\n"
        "                 4 private packets, 5 sequenced packets (0: recognise, the default)\n"
        "  --framemd5     one line per picture: WIDTHxHEIGHT and the MD5 of the converted\n"
        "                 picture's bytes as the decoder stores them (rows packed; 24 and 32\n"
        "                 bits bottom row first)\n"
        "  --out DIR      write every picture to DIR as picture-NNNNN.png, upright\n"
        "  --help         show this help\n"
        "\n"
        "Without --format the format of FILE is recognised as the player recognises a\n"
        "recorder's stream. H.264 and MPEG-4 Visual pictures are decoded.\n"
        "\n"
        "Exit status: 0 when FILE was decoded to its end, 1 when it could not be read or a\n"
        "picture could not be written, 2 for a usage error.\n",
        kMaxChunk, kDefaultChunk);
}

// Returns kExitOk with `options` filled, kExitUsage after an error message, or -1 for --help.
int ParseArguments(int argc, char** argv, Options* options) {
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") return -1;
        if (argument == "--framemd5") {
            options->frameMd5 = true;
            continue;
        }
        bool matched = false;
        for (std::string_view name : {"--chunk", "--depth", "--format", "--out"}) {
            if (!argument.starts_with(name)) continue;
            std::string_view value;
            if (argument.size() > name.size() && argument[name.size()] == '=')
                value = argument.substr(name.size() + 1);
            else if (argument.size() == name.size() && i + 1 < argc)
                value = argv[++i];
            else if (argument.size() == name.size())
                return UsageError("decode", std::string(name) + " needs a value");
            else
                break;
            bool ok = true;
            if (name == "--chunk") {
                ok = ParseNumber(value, 1, kMaxChunk, &options->chunk);
            } else if (name == "--depth") {
                ok = ParseNumber(value, 16, 32, &options->depth) &&
                     (options->depth == 16 || options->depth == 24 || options->depth == 32);
            } else if (name == "--format") {
                ok = ParseNumber(value, kFormatNone, kFormatSequenced, &options->format) &&
                     options->format != 2;
            } else {
                ok = !value.empty();
                options->outDirectory = value;
            }
            if (!ok)
                return UsageError(
                    "decode", "bad value '" + std::string(value) + "' for " + std::string(name));
            matched = true;
            break;
        }
        if (matched) continue;
        if (argument.size() > 1 && argument[0] == '-')
            return UsageError("decode", "unknown option '" + std::string(argument) + "'");
        if (haveFile) return UsageError("decode", "only one FILE, please");
        options->file = argument;
        haveFile = true;
    }
    if (!haveFile) return UsageError("decode", "no FILE given");
    return kExitOk;
}

// Takes the pictures as they come and reports on them.
class PictureSink {
  public:
    PictureSink(const Options& options, CDecoder& decoder) : options(options), decoder(decoder) {}

    // Takes the waiting picture, if any. False when writing it failed.
    bool Take(bool& took) {
        int width = 0, height = 0;
        const uint8_t* picture = decoder.GetPicture(width, height, status);
        took = picture != nullptr;
        if (!took) return true;
        const bool ok = Report(picture, width, height);
        decoder.ReleasePicture();
        return ok;
    }

    long long Count() const { return count; }
    const std::map<std::pair<int, int>, long long>& Sizes() const { return sizes; }

  private:
    bool Report(const uint8_t* picture, int width, int height) {
        const int bytesPerPixel = options.depth / 8;
        const size_t bytes = static_cast<size_t>(width) * height * bytesPerPixel;
        ++sizes[{width, height}];
        if (options.frameMd5) {
            uint8_t digest[16];
            av_md5_sum(digest, picture, bytes);
            std::printf("%dx%d ", width, height);
            for (uint8_t b : digest)
                std::printf("%02x", b);
            std::printf("\n");
        }
        bool ok = true;
        if (!options.outDirectory.empty()) {
            const QImage::Format format = options.depth == 16   ? QImage::Format_RGB16
                                          : options.depth == 24 ? QImage::Format_BGR888
                                                                : QImage::Format_RGB32;
            QImage image(picture, width, height, width * bytesPerPixel, format);
            // 24- and 32-bit pictures are stored bottom row first.
            if (options.depth != 16) image = image.mirrored(false, true);
            char name[32];
            std::snprintf(name, sizeof name, "/picture-%05lld.png", count);
            const std::string path = options.outDirectory + name;
            ok = image.save(QString::fromStdString(path), "PNG");
            if (!ok) std::fprintf(stderr, "tavix-probe decode: cannot write %s\n", path.c_str());
        }
        ++count;
        return ok;
    }

    const Options& options;
    CDecoder& decoder;
    int status = kStatusBuffering;
    long long count = 0;
    std::map<std::pair<int, int>, long long> sizes;
};

}  // namespace

int RunDecode(int argc, char** argv) {
    Options options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed == -1) {
        PrintHelp(stdout);
        return kExitOk;
    }
    if (parsed != kExitOk) return parsed;

    FILE* in = options.file == "-" ? stdin : std::fopen(options.file.c_str(), "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "tavix-probe decode: cannot open %s: %s\n", options.file.c_str(),
                     std::strerror(errno));
        return kExitFailure;
    }
    if (!options.outDirectory.empty()) {
        struct stat s;
        if (stat(options.outDirectory.c_str(), &s) != 0 || !S_ISDIR(s.st_mode)) {
            std::fprintf(stderr, "tavix-probe decode: %s is not a directory\n",
                         options.outDirectory.c_str());
            if (in != stdin) std::fclose(in);
            return kExitFailure;
        }
    }

    CDecoder decoder(MakeDemuxerSource(options.format));
    decoder.SetDisplayBits(options.depth);
    PictureSink sink(options, decoder);
    const auto begin = std::chrono::steady_clock::now();
    decoder.Start();
    std::vector<uint8_t> chunk(static_cast<size_t>(options.chunk));
    long long bytesRead = 0;
    bool ok = true;
    bool took = false;
    size_t got;
    while (ok && (got = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
        bytesRead += static_cast<long long>(got);
        // No chunk is lost: while the decoder has no room, take pictures to make some.
        while (ok && decoder.TryPushData(chunk.data(), static_cast<int>(got)) == 0) {
            ok = sink.Take(took);
            if (!took) SleepMs(1);
        }
        if (ok) ok = sink.Take(took);
    }
    const bool readError = std::ferror(in) != 0;
    if (in != stdin) std::fclose(in);
    while (ok) {
        // Drained first, then one last look: a picture converted before the queues emptied is
        // waiting by then.
        const bool drained = decoder.Drained();
        ok = sink.Take(took);
        if (drained && !took) break;
        if (!took) SleepMs(1);
    }
    decoder.Stop();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

    std::printf("pictures %lld", sink.Count());
    for (const auto& [size, n] : sink.Sizes())
        std::printf(", %lld at %dx%d", n, size.first, size.second);
    std::printf("; %lld bytes; %.1f pictures per second; %d bits\n", bytesRead,
                seconds > 0 ? static_cast<double>(sink.Count()) / seconds : 0.0, options.depth);
    if (readError) {
        std::fprintf(stderr, "tavix-probe decode: read error on %s\n", options.file.c_str());
        return kExitFailure;
    }
    return ok ? kExitOk : kExitFailure;
}

}  // namespace tavix::probe
