// Reader of the MPEG-4 Visual headers in front of a picture, for its size and clock.
#pragma once

#include <cstdint>

#include "demux/frame_info.h"

namespace tavix {

struct VolInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t timeResolution = 0;  // vop_time_increment_resolution: clock ticks per second
};

// Reads the headers at data[0, count) (visual object sequence, visual object, group of VOP,
// user data) up to the first rectangular video object layer and returns 0 with `info` filled.
// Returns -1, leaving `info` as it was, when a VOP comes first, a layer is of an unsupported
// type or shape, the header is cut short, or the bytes run out. Never reads past `count`.
int ReadVolHeader(const uint8_t* data, int count, VolInfo* info);

// The time code of a group-of-VOP header (hours 5 bits, minutes 6, a marker, seconds 6) from the
// three bytes behind its start code into hour, minute, second and timeOfDay.
void ReadGovTimeCode(const uint8_t* timeCode, FrameInfo* frame);

}  // namespace tavix
