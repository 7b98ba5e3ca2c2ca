// The screen's side of the picture road: a decoder given a screen (CDecoder::SetScreen) converts
// each picture once, straight into the image the screen shows, at the size and in the format
// the screen asks for, top row first.
#pragma once

#include <cstdint>
#include <vector>

#include "video/frame_stamp.h"

namespace tavix {

struct ScreenImage {
    uint8_t* bytes = nullptr;  // the top row first
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes from the start of one row to the next
    int bits = 32;   // 16: RGB565 little-endian; 24: B, G, R; 32: B, G, R, 255
    // The part of the picture to show (a zoomed view), in picture pixels; empty: all of it.
    int cropX = 0;
    int cropY = 0;
    int cropWidth = 0;
    int cropHeight = 0;
};

// What the decoder knows of a picture it put on the screen.
struct PictureFacts {
    int width = 0;  // decoded size
    int height = 0;
    bool stamped = false;  // `stamp` was read from it (CDecoder::SetStampsWanted)
    FrameStamp stamp;
};

enum class ScreenReady {
    kConvert,  // convert into the image given
    kSkip,     // nothing is shown now: pass the picture over
};

// Called on the decoding thread only.
class IPictureScreen {
  public:
    virtual ~IPictureScreen() = default;
    // For each decoded picture of width x height. With kConvert the image is the decoder's
    // until EndPicture; its crop, set, scales that part of the picture to the image.
    virtual ScreenReady BeginPicture(int width, int height, ScreenImage& image) = 0;
    virtual void EndPicture(const PictureFacts& facts) = 0;
    // The picture after CDecoder::TakeSnapshot, at its decoded size: B, G, R, 255 per pixel,
    // the top row first, rows packed.
    virtual void SnapshotReady(std::vector<uint8_t> picture, int width, int height) = 0;
};

}  // namespace tavix
