// A product's cloud mask on the grid of a composite: decoded once at the mask's own full
// resolution (never a reduced level, which holds other classes), one byte a pixel, and handed
// out by ranges of the composite's rows, each pixel taking the mask pixel under its centre, as
// GDAL's nearest-neighbour warp onto that grid does.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Georeference.h"
#include "MaskClasses.h"
#include "MaskSource.h"
#include "WorkCallbacks.h"

// A grid of pixels on the ground: its georeference and its size.
struct TPlacedGrid {
  TGridGeoreference Georeference;
  uint32_t Width = 0, Height = 0;
};

class TCloudMask {
 public:
  TCloudMask() = default;
  // A mask already known: masked holds grid.Width x grid.Height bytes, row by row (1 masked);
  // outside is what pixels beyond it are.
  TCloudMask(const TPlacedGrid& grid, std::vector<uint8_t> masked, uint8_t outside)
      : FGrid(grid), FMasked(std::move(masked)), FOutside(outside) {}

  // Decodes source and marks each of its pixels masked or clear: for a scene classification
  // the pixels of the classes given; for MSK_CLASSI_B00 opaque clouds (when class 8 or 9 is
  // given), cirrus (class 10) and snow (class 11). False, with the reason, when the file
  // cannot be decoded or carries no georeferencing.
  // With over (a picture's grid in the mask's coordinate system), only the mask's pixels under
  // that picture are decoded and kept: the code-stream tiles they lie in, then cut to them.
  bool Load(const TMaskSource& source, const TMaskClasses& classes, const TWorkCallbacks& callbacks,
            std::string& error, const TPlacedGrid* over = nullptr);

  // Whether the mask can be placed on target: the same coordinate system.
  bool Covers(const TPlacedGrid& target, std::string& error) const;

  // Rows first .. first + count - 1 of target: out[y * target.Width + x] is 1 where the pixel
  // is masked, else 0. Pixels whose centre lies outside the mask take its no-data value
  // (masked when a classification's class 0 is).
  void Rows(const TPlacedGrid& target, uint32_t first, uint32_t count, uint8_t* out) const;

  const TPlacedGrid& Grid() const { return FGrid; }

  // For tests: the mask at its own resolution, row by row.
  const std::vector<uint8_t>& Pixels() const { return FMasked; }

 private:
  TPlacedGrid FGrid;
  std::vector<uint8_t> FMasked;
  uint8_t FOutside = 0;
};

// The source column (or row) under the centre of target column index, or -1 outside 0 .. size-1:
// floor((centre - sourceStart) / sourceStep), as GDAL's nearest-neighbour warp computes it.
int64_t NearestSourceIndex(double targetStart, double targetStep, uint32_t index, double sourceStart,
                           double sourceStep, uint32_t size);
