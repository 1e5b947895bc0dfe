// A rectangle of whole pixels of a picture: the part of a composite an area of interest covers.
#pragma once
#include <cstdint>

struct TPixelWindow {
  uint32_t Col = 0, Row = 0, Width = 0, Height = 0;
  bool operator==(const TPixelWindow& o) const {
    return Col == o.Col && Row == o.Row && Width == o.Width && Height == o.Height;
  }
};
