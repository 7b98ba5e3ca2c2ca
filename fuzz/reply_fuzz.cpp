// Arbitrary bytes from the device as one reply message.
#include <cstddef>
#include <cstdint>

#include "client/wire_messages.h"
#include "platform/trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        tavix::SetTraceSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    tavix::ReplyInfo reply = tavix::ParseReply(data, size);
    if (const tavix::ChannelNameList* list = reply.ChannelList()) {
        // Every name the list holds must end inside it.
        for (int i = 0; i < list->count; ++i)
            if (list->entries[i].name[tavix::kChannelNameBytes - 1] != 0) __builtin_trap();
        if (list->count < 0 || list->count > tavix::kMaxChannelEntries) __builtin_trap();
    }
    return 0;
}
