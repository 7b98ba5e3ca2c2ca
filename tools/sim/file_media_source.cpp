#include "tools/sim/file_media_source.h"

namespace tavix::sim {

FileMediaSource::FileMediaSource(const std::string& path) : file(std::fopen(path.c_str(), "rb")) {}

FileMediaSource::~FileMediaSource() {
    if (file != nullptr) std::fclose(file);
}

std::vector<uint8_t> FileMediaSource::Next(size_t maxBytes) {
    std::vector<uint8_t> piece(maxBytes);
    size_t filled = 0;
    bool rewound = false;
    while (file != nullptr && filled < maxBytes) {
        size_t got = std::fread(piece.data() + filled, 1, maxBytes - filled, file);
        filled += got;
        if (got > 0) {
            rewound = false;
            continue;
        }
        if (rewound) break;  // empty or unreadable: nothing to loop
        std::rewind(file);
        rewound = true;
    }
    piece.resize(filled);
    return piece;
}

}  // namespace tavix::sim
