#include "tools/sim/test_pattern.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tools/sim/bitmap_font.h"

namespace tavix::sim {
namespace {

constexpr int kSceneCells = 3 * kCellsPerPanel;
constexpr Yuv kTextColour = YuvFromRgb(255, 255, 255);
constexpr Yuv kTextBox = YuvFromRgb(0, 0, 0);
constexpr Yuv kHeaderBand = YuvFromRgb(40, 40, 40);
constexpr Yuv kMovingBand = YuvFromRgb(96, 96, 96);
constexpr Yuv kMovingSquare = YuvFromRgb(255, 255, 255);

Yuv ToYuv(const Rgb& c) {
    return YuvFromRgb(c.r, c.g, c.b);
}

// Checkerboard colours of the eight outer panels, by panel (row * 3 + column); the centre (4)
// has its own layout.
constexpr std::array<std::array<Rgb, 2>, 9> kPanelColours = {{
    {{{128, 0, 0}, {255, 255, 255}}},
    {{{0, 0, 192}, {255, 255, 255}}},
    {{{0, 128, 0}, {255, 255, 255}}},
    {{{0, 192, 0}, {0, 0, 0}}},
    {{{0, 0, 0}, {0, 0, 0}}},
    {{{255, 128, 0}, {0, 0, 0}}},
    {{{128, 0, 128}, {255, 255, 255}}},
    {{{192, 0, 0}, {255, 255, 255}}},
    {{{0, 128, 128}, {255, 255, 255}}},
}};

Yuv CentreCell(int row, int column) {
    if (row == 0) return kHeaderBand;
    if (row <= 4) return ToYuv(kBarColours[static_cast<size_t>(column)]);
    if (row == 5) return kMovingBand;
    uint8_t grey = kGreySteps[static_cast<size_t>(column)];
    return YuvFromRgb(grey, grey, grey);
}

// Box blur of one line of `count` samples `stride` apart, radius `radius`, edges repeated.
void BlurLine(uint8_t* line, int count, int stride, int radius, std::vector<uint32_t>& sums) {
    // sums[i] = sum of the first i samples, with the edge samples repeated `radius` times.
    sums.resize(static_cast<size_t>(count + 2 * radius + 1));
    sums[0] = 0;
    for (int i = 0; i < count + 2 * radius; ++i) {
        int source = std::clamp(i - radius, 0, count - 1);
        sums[static_cast<size_t>(i + 1)] = sums[static_cast<size_t>(i)] + line[source * stride];
    }
    uint32_t window = static_cast<uint32_t>(2 * radius + 1);
    for (int i = 0; i < count; ++i) {
        uint32_t total =
            sums[static_cast<size_t>(i + 2 * radius + 1)] - sums[static_cast<size_t>(i)];
        line[i * stride] = static_cast<uint8_t>((total + window / 2) / window);
    }
}

void BlurPlane(uint8_t* plane, int width, int height, int radius, std::vector<uint32_t>& sums) {
    if (radius <= 0) return;
    for (int y = 0; y < height; ++y)
        BlurLine(plane + static_cast<size_t>(y) * width, width, 1, radius, sums);
    for (int x = 0; x < width; ++x)
        BlurLine(plane + x, height, width, radius, sums);
}

}  // namespace

std::u32string DecodeUtf8(const std::string& text) {
    std::u32string out;
    size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        char32_t code = lead;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
        }
        bool ok = lead < 0x80 || (extra > 0 && i + extra < text.size());
        for (size_t k = 1; ok && k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            ok = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        if (!ok) {
            out += U'\uFFFD';
            ++i;
            continue;
        }
        out += code;
        i += extra + 1;
    }
    return out;
}

TestPattern::TestPattern(int width, int height, const std::string& name)
    : width(width),
      height(height),
      textScale(std::max(1, height / 144)),
      name(DecodeUtf8(name)),
      columnCell(static_cast<size_t>(width)),
      rowCell(static_cast<size_t>(height)) {
    for (int row = 0; row < kSceneCells; ++row) {
        for (int column = 0; column < kSceneCells; ++column) {
            int panel = row / kCellsPerPanel * 3 + column / kCellsPerPanel;
            int localRow = row % kCellsPerPanel;
            int localColumn = column % kCellsPerPanel;
            Yuv colour = panel == 4 ? CentreCell(localRow, localColumn)
                                    : ToYuv(kPanelColours[static_cast<size_t>(panel)]
                                                         [static_cast<size_t>((row + column) & 1)]);
            cells[static_cast<size_t>(row * kSceneCells + column)] = colour;
        }
    }
    // Sensor grain of +-kGrain levels from a fixed generator, so that the encoder spends what
    // a real camera's stream costs. Scene samples lie in 16..235, so no sum leaves 0..255.
    uint32_t state = 12345;
    for (int8_t& value : grain) {
        state = state * 1103515245u + 12345u;
        value = static_cast<int8_t>(static_cast<int>((state >> 16) % (2 * kGrain + 1)) - kGrain);
    }
}

void TestPattern::Render(const CameraView& view, const FrameStamp& stamp, const std::string& clock,
                         YuvFrame& out, bool stamped) {
    if (out.width != width || out.height != height) out.Resize(width, height);
    DrawScene(view, stamp.frameNumber, out);
    int focusBlur = std::abs(view.Focus()) * textScale * 2;
    if (focusBlur > 0) Blur(out, focusBlur);
    if (view.Iris() != 0) ApplyIris(out, view.Iris());
    AddGrain(out, stamp.frameNumber);

    // On-screen text: the clock at the top right, the name in what room is left at the left.
    int cellWidth = 6 * textScale;
    int margin = 2 * textScale;
    std::u32string clockText(clock.begin(), clock.end());
    int clockX = width - margin - static_cast<int>(clockText.size()) * cellWidth;
    int roomForName = std::max(0, (clockX - 2 * margin - cellWidth) / cellWidth);
    DrawText(out, margin, margin, name.substr(0, static_cast<size_t>(roomForName)));
    DrawText(out, clockX, margin, clockText);
    if (stamped) DrawStamp(out, stamp);
}

void TestPattern::DrawScene(const CameraView& view, uint32_t frameNumber, YuvFrame& out) {
    const double size = view.ViewSize();
    const double left = view.Left();
    const double top = view.Top();
    for (int x = 0; x < width; ++x) {
        double sceneX = left + (x + 0.5) * size / width;
        columnCell[static_cast<size_t>(x)] =
            std::clamp(static_cast<int>(std::floor(sceneX * kCellsPerPanel)), 0, kSceneCells - 1);
    }
    for (int y = 0; y < height; ++y) {
        double sceneY = top + (y + 0.5) * size / height;
        rowCell[static_cast<size_t>(y)] =
            std::clamp(static_cast<int>(std::floor(sceneY * kCellsPerPanel)), 0, kSceneCells - 1);
    }

    // Rows of one cell row are alike: each is drawn once and copied.
    for (int y = 0; y < height; ++y) {
        uint8_t* row = &out.y[static_cast<size_t>(y) * width];
        if (y > 0 && rowCell[static_cast<size_t>(y)] == rowCell[static_cast<size_t>(y - 1)]) {
            std::memcpy(row, row - width, static_cast<size_t>(width));
            continue;
        }
        const Yuv* cellRow =
            &cells[static_cast<size_t>(rowCell[static_cast<size_t>(y)] * kSceneCells)];
        for (int x = 0; x < width; ++x)
            row[x] = cellRow[columnCell[static_cast<size_t>(x)]].y;
    }
    const int chromaWidth = width / 2;
    for (int y = 0; y < height / 2; ++y) {
        uint8_t* u = &out.u[static_cast<size_t>(y) * chromaWidth];
        uint8_t* v = &out.v[static_cast<size_t>(y) * chromaWidth];
        if (y > 0 &&
            rowCell[static_cast<size_t>(2 * y)] == rowCell[static_cast<size_t>(2 * y - 2)]) {
            std::memcpy(u, u - chromaWidth, static_cast<size_t>(chromaWidth));
            std::memcpy(v, v - chromaWidth, static_cast<size_t>(chromaWidth));
            continue;
        }
        const Yuv* cellRow =
            &cells[static_cast<size_t>(rowCell[static_cast<size_t>(2 * y)] * kSceneCells)];
        for (int x = 0; x < chromaWidth; ++x) {
            const Yuv& colour = cellRow[columnCell[static_cast<size_t>(2 * x)]];
            u[x] = colour.u;
            v[x] = colour.v;
        }
    }

    // The moving square: one cell of the centre panel's band, crossing it left to right.
    double phase = static_cast<double>(frameNumber % kMovingPeriodFrames) / kMovingPeriodFrames;
    double squareX = 1.0 + phase * (1.0 - 1.0 / kCellsPerPanel);
    double squareY = 1.0 + 5.0 / kCellsPerPanel;
    auto toX = [&](double sceneX) {
        return static_cast<int>(std::lround((sceneX - left) * width / size));
    };
    auto toY = [&](double sceneY) {
        return static_cast<int>(std::lround((sceneY - top) * height / size));
    };
    FillRect(out, toX(squareX), toY(squareY), toX(squareX + 1.0 / kCellsPerPanel),
             toY(squareY + 1.0 / kCellsPerPanel), kMovingSquare);
}

void TestPattern::FillRect(YuvFrame& out, int x0, int y0, int x1, int y1, Yuv colour) {
    x0 = std::clamp(x0, 0, width);
    x1 = std::clamp(x1, 0, width);
    y0 = std::clamp(y0, 0, height);
    y1 = std::clamp(y1, 0, height);
    if (x0 >= x1 || y0 >= y1) return;
    for (int y = y0; y < y1; ++y)
        std::memset(&out.y[static_cast<size_t>(y) * width + x0], colour.y,
                    static_cast<size_t>(x1 - x0));
    for (int y = y0 / 2; y < (y1 + 1) / 2; ++y) {
        size_t at = static_cast<size_t>(y) * (width / 2) + x0 / 2;
        size_t count = static_cast<size_t>((x1 + 1) / 2 - x0 / 2);
        std::memset(&out.u[at], colour.u, count);
        std::memset(&out.v[at], colour.v, count);
    }
}

void TestPattern::Blur(YuvFrame& out, int radius) {
    BlurPlane(out.y.data(), width, height, radius, blurLine);
    BlurPlane(out.u.data(), width / 2, height / 2, radius / 2, blurLine);
    BlurPlane(out.v.data(), width / 2, height / 2, radius / 2, blurLine);
}

void TestPattern::ApplyIris(YuvFrame& out, int iris) {
    // Each step opens or closes the iris by a quarter of the light.
    double gain = std::pow(1.25, iris);
    uint8_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<uint8_t>(std::clamp(std::lround(16 + (i - 16) * gain), 16L, 235L));
    for (uint8_t& sample : out.y)
        sample = table[sample];
}

void TestPattern::AddGrain(YuvFrame& out, uint32_t frameNumber) {
    // Each row takes the table from its own place, chosen by frame and row: no two pictures
    // share their grain, and the same frame always gets the same.
    const size_t mask = grain.size() - 1;
    for (int y = 0; y < height; ++y) {
        size_t at = (frameNumber * 2654435761u + static_cast<uint32_t>(y) * 40503u) & mask;
        uint8_t* row = &out.y[static_cast<size_t>(y) * width];
        // In two runs that do not wrap around the table, so that the compiler can vectorise.
        size_t first = std::min(static_cast<size_t>(width), grain.size() - at);
        for (size_t x = 0; x < first; ++x)
            row[x] = static_cast<uint8_t>(row[x] + grain[at + x]);
        for (size_t x = first; x < static_cast<size_t>(width); ++x)
            row[x] = static_cast<uint8_t>(row[x] + grain[x - first]);
    }
}

void TestPattern::DrawText(YuvFrame& out, int x, int y, const std::u32string& text) {
    if (text.empty()) return;
    const int s = textScale;
    FillRect(out, x - s, y - s, x + static_cast<int>(text.size()) * 6 * s, y + 8 * s, kTextBox);
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph& glyph = GlyphFor(text[i]);
        int glyphX = x + static_cast<int>(i) * 6 * s;
        for (int column = 0; column < kGlyphColumns; ++column) {
            for (int row = 0; row < kGlyphRows; ++row) {
                if (((glyph[static_cast<size_t>(column)] >> row) & 1) == 0) continue;
                int px = glyphX + column * s;
                int py = y + row * s;
                if (px < 0 || py < 0 || px + s > width || py + s > height) continue;
                for (int dy = 0; dy < s; ++dy)
                    std::memset(&out.y[static_cast<size_t>(py + dy) * width + px], kTextColour.y,
                                static_cast<size_t>(s));
            }
        }
    }
}

}  // namespace tavix::sim
