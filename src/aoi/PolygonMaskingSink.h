// A row sink that blanks what lies outside an area's polygons on its way to the sink behind it:
// every pixel whose centre is outside every polygon becomes 0, 0, 0 (no data), as the rows of a
// window pass through, top to bottom.
#pragma once
#include <cstdint>
#include <vector>

#include "PolygonMask.h"
#include "RowSink.h"

class TPolygonMaskingSink : public TRowSink {
 public:
  // target and mask must outlive this sink; the rows that come are the mask's window.
  TPolygonMaskingSink(TRowSink& target, const TPolygonMask& mask) : FTarget(target), FMask(mask) {}

  bool Put(const TRowView& rows) override;
  bool Finish() override;

 private:
  TRowSink& FTarget;
  const TPolygonMask& FMask;
  uint32_t FNextRow = 0;
  bool FFailed = false;
  std::vector<uint16_t> FRows;
  std::vector<uint8_t> FInside;
};

// Blanks the pixels of row `row` of the mask's window (width pixels of three samples) that lie
// outside its polygons; inside is a scratch buffer of the mask's width.
void BlankOutside(const TPolygonMask& mask, uint32_t row, uint16_t* pixels, std::vector<uint8_t>& inside);
