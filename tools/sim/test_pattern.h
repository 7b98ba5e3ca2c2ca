// The simulated camera's picture. The scene is 3 x 3 panels on a grid of 8 x 8 cells each; the
// centre panel, which the default view shows whole, is laid out for checking a decoded picture:
//
//   cell row 0      dark grey band (behind the on-screen text)
//   cell rows 1-4   eight colour bars, one per cell column (kBarColours, left to right)
//   cell row 5      grey band with a white square moving right across it (4 s per crossing)
//   cell rows 6-7   eight grey steps from black to white (kGreySteps)
//
// The other panels are checkerboards in their own colours, so that panning shows where the
// camera looks. Over the scene, fixed on the screen: the channel name (top left), the wall
// clock (top right) and the frame stamp (bottom left, see frame_stamp.h). Focus blurs and iris
// brightens or darkens the scene, not the on-screen text. The scene carries a faint sensor grain
// (kGrain), which makes the encoder spend a camera's bit rate on it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/sim/camera_view.h"
#include "tools/sim/frame_stamp.h"
#include "tools/sim/yuv_frame.h"

namespace tavix::sim {

struct Rgb {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

constexpr std::array<Rgb, 8> kBarColours = {{{255, 255, 255},
                                             {255, 255, 0},
                                             {0, 255, 255},
                                             {0, 255, 0},
                                             {255, 0, 255},
                                             {255, 0, 0},
                                             {0, 0, 255},
                                             {0, 0, 0}}};
constexpr std::array<uint8_t, 8> kGreySteps = {0, 36, 73, 109, 146, 182, 219, 255};
constexpr int kCellsPerPanel = 8;
constexpr int kMovingPeriodFrames = 100;
constexpr int kGrain = 4;  // sensor noise on the scene, in luma levels either way

class TestPattern {
  public:
    // `name`: UTF-8; printable ASCII is drawn as it is, other characters as boxes.
    TestPattern(int width, int height, const std::string& name);

    // Draws frame `stamp.frameNumber` as the camera sees it through `view`. Without `stamped`
    // the stamp is left out (a replayed picture, whose stamp would not be true when sent).
    void Render(const CameraView& view, const FrameStamp& stamp, const std::string& clock,
                YuvFrame& out, bool stamped = true);

    // Scale of the on-screen text: glyph pixels per font pixel.
    int TextScale() const { return textScale; }

  private:
    void DrawScene(const CameraView& view, uint32_t frameNumber, YuvFrame& out);
    void FillRect(YuvFrame& out, int x0, int y0, int x1, int y1, Yuv colour);
    void Blur(YuvFrame& out, int radius);
    void ApplyIris(YuvFrame& out, int iris);
    void AddGrain(YuvFrame& out, uint32_t frameNumber);
    // Text with a black box behind it, its first glyph's top-left corner at (x, y).
    void DrawText(YuvFrame& out, int x, int y, const std::u32string& text);

    int width;
    int height;
    int textScale;
    std::u32string name;
    // The colour of every scene cell, row by row.
    std::array<Yuv, 24 * 24> cells{};
    std::vector<int> columnCell;  // per picture column, for the current view
    std::vector<int> rowCell;
    std::vector<uint32_t> blurLine;
    std::array<int8_t, 65536> grain{};
};

// The code points of UTF-8 text; a malformed byte becomes U+FFFD.
std::u32string DecodeUtf8(const std::string& text);

}  // namespace tavix::sim
