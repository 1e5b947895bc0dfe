#include "PolygonMaskingSink.h"

#include <cstring>
#include <new>

void BlankOutside(const TPolygonMask& mask, uint32_t row, uint16_t* pixels, std::vector<uint8_t>& inside) {
  inside.resize(mask.Width());
  mask.Row(row, inside.data());
  for (uint32_t x = 0; x < mask.Width(); ++x)
    if (!inside[x]) std::memset(pixels + size_t{x} * 3, 0, 3 * sizeof(uint16_t));
}

bool TPolygonMaskingSink::Put(const TRowView& rows) {
  if (FFailed) return false;
  if (rows.Width != FMask.Width() || uint64_t{FNextRow} + rows.Height > FMask.Height()) {
    FFailed = true;
    return false;
  }
  try {
    FRows.resize(size_t{rows.Width} * rows.Height * 3);
  } catch (const std::bad_alloc&) {
    FFailed = true;
    return false;
  }
  // The caller's rows stay as they were: they are copied, then blanked.
  for (uint32_t y = 0; y < rows.Height; ++y) {
    uint16_t* row = FRows.data() + size_t{y} * rows.Width * 3;
    std::memcpy(row, rows.Row(y), rows.RowBytes());
    BlankOutside(FMask, FNextRow + y, row, FInside);
  }
  FNextRow += rows.Height;
  TRowView blanked;
  blanked.Top = reinterpret_cast<const uint8_t*>(FRows.data());
  blanked.Stride = static_cast<ptrdiff_t>(rows.RowBytes());
  blanked.Width = rows.Width;
  blanked.Height = rows.Height;
  if (!FTarget.Put(blanked)) FFailed = true;
  return !FFailed;
}

bool TPolygonMaskingSink::Finish() {
  const bool complete = !FFailed && FNextRow == FMask.Height();
  const bool finished = FTarget.Finish();
  return complete && finished;
}
