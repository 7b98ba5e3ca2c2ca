#include "tools/sim/media_source.h"

#include "tools/sim/file_media_source.h"
#include "tools/sim/live_video_source.h"
#include "tools/sim/sim_options.h"

namespace tavix::sim {

std::unique_ptr<MediaSource> MakeMediaSource(const SimOptions& options, int channel, int streamType,
                                             int connection) {
    const bool sub = streamType == 2;
    if (sub && !options.ServesSub(channel)) return nullptr;
    auto live = options.live.find(channel);
    if (live != options.live.end()) {
        return std::make_unique<LiveVideoSource>(
            sub ? options.SubStreamOf(channel, live->second) : live->second,
            options.ChannelName(channel), channel, connection);
    }
    auto file = options.media.find(channel);
    if (file == options.media.end()) return nullptr;
    auto source = std::make_unique<FileMediaSource>(file->second);
    if (!source->IsOpen()) return nullptr;
    return source;
}

}  // namespace tavix::sim
