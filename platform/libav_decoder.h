// The video decoder library: one of libavcodec's decoders, fed one frame's payload at a time and
// writing the picture into the caller's planar YUV 4:2:0 buffer. Without frame threading and
// without reordering delay, so a picture comes out of the call that fed its frame (for streams
// without B-frames). Every codec the program decodes goes through it; the H.264 entry points
// (h264_decoder.h) are one use of it.
//
// An object is used by one thread at a time; different objects are independent.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/libav_handles.h"

namespace tavix {

// Where a decoded picture goes: the caller sets the three plane addresses, the decoder the
// picture's width and height.
struct DecodedPlanes {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    int32_t width;
    int32_t height;
};

// A decoded picture the decoder lends: planar YUV 4:2:0, rows `yStride` (luma) and `uvStride`
// (chroma) bytes apart; valid until the decoder's next Decode or Lend, or its destruction.
struct PictureView {
    const uint8_t* y = nullptr;
    const uint8_t* u = nullptr;
    const uint8_t* v = nullptr;
    int32_t yStride = 0;
    int32_t uvStride = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Copies a lent picture into the caller's planes as Decode writes them; sets their size.
void CopyPicture(const PictureView& view, DecodedPlanes& planes);

class LibavDecoder {
  public:
    // libavcodec's decoder `name` ("h264", "mpeg4") for pictures up to width x height, or null
    // when it cannot be set up (a size of 0 or less, libavcodec without that decoder, no
    // memory).
    static std::unique_ptr<LibavDecoder> Open(const char* name, int32_t width, int32_t height);
    ~LibavDecoder();
    LibavDecoder(const LibavDecoder&) = delete;
    LibavDecoder& operator=(const LibavDecoder&) = delete;

    // Decodes one frame. On success writes the picture into the planes: Y rows `width` bytes
    // apart, U and V rows `width` / 2 bytes apart (an odd last chroma column or row is left
    // out), sets planes.width and planes.height and returns 0. Returns -1, writing no plane,
    // when no picture came out: a corrupt or incomplete payload, one holding only stream
    // headers, a picture that is not 8-bit 4:2:0, or one wider or higher than the opened size
    // (it would not fit the planes). Decoding goes on with the next call either way.
    int Decode(const uint8_t* payload, int32_t length, DecodedPlanes& planes);
    // As Decode, but the picture stays in the decoder's own buffers and `view` shows it: no
    // copy. The size limit is the same.
    int Lend(const uint8_t* payload, int32_t length, PictureView& view);

    // The picture size that the stream headers in an H.264 payload state (cropped), for a
    // container whose size fields cannot hold it. False when the payload has none.
    static bool H264PictureSize(const uint8_t* payload, int32_t length, int32_t& width,
                                int32_t& height);

  private:
    LibavDecoder() = default;

    CodecContextHandle context;
    FrameHandle frame;
    FrameHandle lent;  // the picture Lend showed last
    PacketHandle packet;
    BufferHandle payloadBuffer;  // the frames' payloads, padded; reused while no one else holds it
    int32_t width = 0;           // the size the caller's planes are made for
    int32_t height = 0;
};

}  // namespace tavix
