// A 5 x 7 bitmap font for printable ASCII, built in so that the simulator's picture is the same
// on every machine. Each glyph is five columns, left to right; bit 0 of a column is the top row.
#pragma once

#include <array>
#include <cstdint>

namespace tavix::sim {

constexpr int kGlyphColumns = 5;
constexpr int kGlyphRows = 7;

using Glyph = std::array<uint8_t, kGlyphColumns>;

// The glyph of a code point: printable ASCII as itself, anything else (other scripts, control
// characters) as a hollow box, so that a name in another script still shows how long it is.
const Glyph& GlyphFor(char32_t codePoint);

}  // namespace tavix::sim
