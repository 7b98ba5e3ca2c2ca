// A file played in a loop: each message body continues where the last one ended, across the
// end of the file.
#pragma once

#include <cstdio>
#include <string>

#include "tools/sim/media_source.h"

namespace tavix::sim {

class FileMediaSource : public MediaSource {
  public:
    explicit FileMediaSource(const std::string& path);
    ~FileMediaSource() override;
    FileMediaSource(const FileMediaSource&) = delete;
    FileMediaSource& operator=(const FileMediaSource&) = delete;

    bool IsOpen() const { return file != nullptr; }
    // Full pieces of maxBytes; empty only for a file that cannot be read or is empty.
    std::vector<uint8_t> Next(size_t maxBytes) override;

  private:
    std::FILE* file = nullptr;
};

}  // namespace tavix::sim
