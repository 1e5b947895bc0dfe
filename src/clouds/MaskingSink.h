// A row sink that masks what passes through it: each run of rows gets the cloud mask of the
// same rows of the picture's grid and the no-data rule of a masked picture, then goes on to
// the sink behind it. Counts what the mask removed.
#pragma once
#include <cstdint>
#include <vector>

#include "CloudMask.h"
#include "RowSink.h"

class TMaskingSink : public TRowSink {
 public:
  // target and mask must outlive this sink; grid is the picture's as the rows come.
  TMaskingSink(TRowSink& target, const TCloudMask& mask, const TPlacedGrid& grid)
      : FTarget(target), FMask(mask), FGrid(grid) {}

  bool Put(const TRowView& rows) override;
  bool Finish() override;

  uint64_t MaskedPixels() const { return FMaskedPixels; }
  uint64_t Pixels() const { return uint64_t{FGrid.Width} * FNextRow; }

 private:
  TRowSink& FTarget;
  const TCloudMask& FMask;
  TPlacedGrid FGrid;
  uint32_t FNextRow = 0;
  uint64_t FMaskedPixels = 0;
  bool FFailed = false;
  std::vector<uint16_t> FRows;
  std::vector<uint8_t> FMasked;
};
