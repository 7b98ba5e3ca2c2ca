// The H.264 decoder library: five entry points that decode one frame's payload at a time into
// the caller's planar YUV 4:2:0 buffer. Backed by libavcodec's H.264 decoder through the video
// decoder library (libav_decoder.h), without frame threading and without reordering delay, so a
// picture comes out of the call that fed its frame (for streams without B-frames).
//
// A handle is used by one thread at a time; different handles are independent.
#pragma once

#include <cstdint>

#include "platform/libav_decoder.h"

namespace tavix {

using H264Handle = LibavDecoder*;

// What H264_Dec_Decode reads: the payload (Annex B byte stream, start codes included) and
// four values the caller sets to 1, 1, 0, 0 (unused here).
struct H264DecodeInput {
    const uint8_t* payload;
    int32_t payloadLength;
    int32_t options[4];
};

// Where H264_Dec_Decode writes: the caller sets the three plane addresses, the library the
// picture's width and height.
using H264DecodeOutput = DecodedPlanes;

// Before every open; `reserved` is 0. Returns 0.
int H264_Dec_Init(int reserved);

// `parameters` points to the width and the height the caller's planes are made for. Returns
// the handle, or null when the decoder cannot be set up (no parameters, a size of 0 or less,
// libavcodec without H.264, no memory).
H264Handle H264_Dec_Open(const int32_t* parameters);

// Decodes one frame. On success writes the picture into the planes: Y rows `width` bytes apart,
// U and V rows `width` / 2 bytes apart (an odd last chroma column or row is left out), sets
// output->width and output->height and returns 0. Returns -1, writing no plane, when no picture
// came out: a corrupt or incomplete payload, one holding only parameter sets, a picture that is
// not 8-bit 4:2:0, or one wider or higher than the size the handle was opened with (it would
// not fit the planes). Decoding goes on with the next call either way. `reserved` is 0.
int H264_Dec_Decode(H264Handle handle, const H264DecodeInput* input, H264DecodeOutput* output,
                    int reserved);

// Frees the handle (null is ignored). Returns 0.
int H264_Dec_Close(H264Handle handle);

// After every close. Returns 0.
int H264_Dec_DeInit();

}  // namespace tavix
