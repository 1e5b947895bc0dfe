// ESA's true-colour image (TCI) mapping from a band's digital numbers to 8 bits; the offset it
// adds comes from the product's metadata (BandOffset.h).
//
// Measured on ESA's own TCI of a processing-baseline 04.00 product: with d = number + offset
// (offset -1000), every pixel with d > 0 is min(255, 1 + floor(d * 254 / 2500)), i.e.
// reflectance 0 .. 0.25 at the quantification value 10000 spread over 1 .. 255. ESA writes 0
// for no data (number 0) and also for d <= 0; here a valid pixel that dark becomes 1, so that
// no data stays the one value 0.
#pragma once
#include <cstdint>

inline uint8_t TrueColourByte(uint16_t number, int offset) {
  if (number == 0) return 0;
  const int32_t d = static_cast<int32_t>(number) + offset;
  if (d <= 0) return 1;
  const int32_t v = 1 + d * 254 / 2500;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}
