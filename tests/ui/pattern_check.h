// Reads the simulator's test pattern back from a grab of the screen or of a window: its colour
// bars (yellow, cyan, green, magenta, red, blue, left to right) above its light grey step. Tells
// an upright picture from one that is mirrored, upside down or turned the wrong way.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

#include <cstdlib>
#include <string>
#include <vector>

namespace tavix {

// 'Y', 'C', 'G', 'M', 'R', 'B' for the bars, 'L' for the light grey step (219), '.' otherwise.
// Wide margins: the picture went through H.264 and, on a 16-bit display, RGB565.
inline char PatternClass(const QColor& colour) {
    struct Kind {
        char name;
        int r, g, b;
    };
    static constexpr Kind kBars[] = {{'Y', 255, 255, 0}, {'C', 0, 255, 255}, {'G', 0, 255, 0},
                                     {'M', 255, 0, 255}, {'R', 255, 0, 0},   {'B', 0, 0, 255}};
    const int r = colour.red(), g = colour.green(), b = colour.blue();
    for (const Kind& k : kBars)
        if (std::abs(r - k.r) <= 70 && std::abs(g - k.g) <= 70 && std::abs(b - k.b) <= 70)
            return k.name;
    const int high = std::max({r, g, b}), low = std::min({r, g, b});
    if (high - low <= 24 && low >= 195 && high <= 240) return 'L';
    return '.';
}

// The classes met along a line of `count` pixels from `from` in steps of `step`: runs of at
// least three pixels of one class, '.' left out and neighbours of one class merged, each with the
// index of its middle pixel.
struct PatternRuns {
    std::string classes;
    std::vector<int> middles;
};
inline PatternRuns RunsAlong(const QImage& image, QPoint from, QPoint step, int count) {
    PatternRuns runs;
    char current = 0;
    int start = 0;
    auto close = [&](int end) {
        if (current == '.' || current == 0 || end - start < 3) return;
        if (!runs.classes.empty() && runs.classes.back() == current) return;
        runs.classes += current;
        runs.middles.push_back((start + end) / 2);
    };
    int i = 0;
    for (; i < count; ++i) {
        const QPoint at = from + step * i;
        if (!image.valid(at)) break;
        const char c = PatternClass(image.pixelColor(at));
        if (c != current) {
            close(i);
            current = c;
            start = i;
        }
    }
    close(i);
    return runs;
}

// Whether `area` of `image` shows the pattern upright (`turned` false), or turned a quarter
// clockwise (`turned` true: the picture's left edge along the top, its top edge on the right).
// Upright: a row holds the bars in order left to right, and the column through its blue bar
// meets the light grey step below the bars but not above them. Turned: a column holds the bars
// top to bottom, and the row through its blue bar meets the grey step on the left only.
inline bool ShowsPattern(const QImage& image, const QRect& area, bool turned) {
    const QPoint along = turned ? QPoint(0, 1) : QPoint(1, 0);
    const QPoint across = turned ? QPoint(1, 0) : QPoint(0, 1);
    const int lines = turned ? area.width() : area.height();
    const int length = turned ? area.height() : area.width();
    for (int line = 0; line < lines; line += 2) {
        const QPoint start = area.topLeft() + across * line;
        const PatternRuns bars = RunsAlong(image, start, along, length);
        const size_t found = bars.classes.find("YCGMRB");
        if (found == std::string::npos) continue;
        // The line through the blue bar, across the bars: before them and after them.
        const QPoint blue = start + along * bars.middles[found + 5];
        const QPoint lineStart = blue - across * line;
        const std::string before = RunsAlong(image, lineStart, across, line).classes;
        const std::string after = RunsAlong(image, blue, across, lines - line).classes;
        // Turned clockwise, the picture's bottom lies to the left: "before" the bars.
        const std::string& below = turned ? before : after;
        const std::string& above = turned ? after : before;
        if (below.find('L') != std::string::npos && above.find('L') == std::string::npos)
            return true;
    }
    return false;
}

}  // namespace tavix
