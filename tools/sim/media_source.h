// Where a channel's media comes from. Each media connection that streams a channel gets its
// own source, so that every client starts at the beginning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tavix::sim {

struct SimOptions;

class MediaSource {
  public:
    virtual ~MediaSource() = default;

    // The body of the next media message, at most maxBytes long. Empty: nothing now. A source
    // that keeps its own pace (live video) may wait here for its next piece.
    virtual std::vector<uint8_t> Next(size_t maxBytes) = 0;

    // True when Next already waits for the right time, so the sender applies no --rate.
    virtual bool PacesItself() const { return false; }

    // A PTZ command for the channel (wire action code, speed). Called on the control
    // connection's thread while another thread may be in Next.
    virtual void Steer(int /*wireAction*/, int /*speed*/) {}
};

// The source the options give a channel's stream of `streamType` (1 main, 2 sub), or null when
// it has no media. `connection` names the media connection in the source's output lines.
std::unique_ptr<MediaSource> MakeMediaSource(const SimOptions& options, int channel, int streamType,
                                             int connection);

}  // namespace tavix::sim
