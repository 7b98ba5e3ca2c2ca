// libavcodec's context, frame, packet and buffer held by unique_ptr, freed with their own free
// functions when the holder goes. The types stay declared only, so that a header holding these
// needs no FFmpeg header.
#pragma once

#include <memory>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVBufferRef;

namespace tavix {

struct CodecContextFree {
    void operator()(AVCodecContext* context) const;
};
struct FrameFree {
    void operator()(AVFrame* frame) const;
};
struct PacketFree {
    void operator()(AVPacket* packet) const;
};

struct BufferFree {
    void operator()(AVBufferRef* buffer) const;
};

using CodecContextHandle = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FrameHandle = std::unique_ptr<AVFrame, FrameFree>;
using PacketHandle = std::unique_ptr<AVPacket, PacketFree>;
using BufferHandle = std::unique_ptr<AVBufferRef, BufferFree>;

}  // namespace tavix
