// The sample values of generated band files, so that a test can predict every pixel of a
// composite. Pixel (x, y) counts from the top-left corner of the picture (FreeImage's scan
// line height - 1 - y). Values use 15 bits, like Sentinel-2's; the band's index (B02 0, B03 1,
// B04 2, B08 3) sits in the low two bits, so no two bands ever share a value at one pixel.
// The upper bits are a slow diagonal ramp plus hashed noise, which keeps full-size files about
// as costly to decode as real ones.
#pragma once
#include <cstdint>

namespace sample {
inline int BandIndex(int bandCode) {  // 2, 3, 4 or 8
  return bandCode == 8 ? 3 : bandCode - 2;
}

inline uint16_t Value(int bandCode, uint32_t x, uint32_t y) {
  const uint32_t index = static_cast<uint32_t>(BandIndex(bandCode));
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ (index + 1) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  const uint32_t ramp = (x + y) / 8 + index * 1500;
  return static_cast<uint16_t>((((ramp + (h & 0x3F)) & 0x1FFF) << 2) | index);
}

// The name stem of generated tiles: STEM + "B02.jp2" and so on.
constexpr const char* kStem = "T33UUP_20250101T101021_";
}  // namespace sample
