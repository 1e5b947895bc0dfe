// Rows of a 48-bit RGB picture as the writers read them: three unsigned 16-bit samples per
// pixel (red, green, blue) in host byte order, presented top row first. The stride may be
// negative, so a bottom-up bitmap is shown top-down without copying.
#pragma once
#include <cstddef>
#include <cstdint>

struct TRowView {
  const uint8_t* Top = nullptr;  // first sample of the top row
  ptrdiff_t Stride = 0;          // bytes from one row to the row below it
  uint32_t Width = 0;            // pixels per row
  uint32_t Height = 0;           // rows

  const uint16_t* Row(uint32_t y) const {
    return reinterpret_cast<const uint16_t*>(Top + static_cast<ptrdiff_t>(y) * Stride);
  }
  size_t RowBytes() const { return static_cast<size_t>(Width) * 6; }
};
