// Row-pair kernels behind the colour converters (internal to video/).
#pragma once

#include <cstdint>

#include "video/colour_conversion.h"

namespace tavix {

// The plain kernels: the reference, and the last columns of the vector kernels.
void PlainRows565(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                  const uint8_t* v, int pairs);
void PlainRows24(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                 const uint8_t* v, int pairs);
void PlainRows32(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                 const uint8_t* v, int pairs);

// Vector kernels, each in its own file compiled for its instruction set. Only reached through
// AvailableConverters, which checks the processor first.
extern const ColourConverter kSsse3Converter;
extern const ColourConverter kAvx2Converter;

}  // namespace tavix
