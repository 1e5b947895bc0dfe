#include "MaskingSink.h"

#include <cstring>
#include <new>

#include "DateMedian.h"

bool TMaskingSink::Put(const TRowView& rows) {
  if (FFailed) return false;
  if (rows.Width != FGrid.Width || uint64_t{FNextRow} + rows.Height > FGrid.Height) {
    FFailed = true;
    return false;
  }
  const size_t pixels = size_t{rows.Width} * rows.Height;
  try {
    FRows.resize(pixels * 3);
    FMasked.resize(pixels);
  } catch (const std::bad_alloc&) {
    FFailed = true;
    return false;
  }
  // The caller's rows stay as they were: they are copied, then masked.
  for (uint32_t y = 0; y < rows.Height; ++y)
    std::memcpy(FRows.data() + size_t{y} * rows.Width * 3, rows.Row(y), rows.RowBytes());
  FMask.Rows(FGrid, FNextRow, rows.Height, FMasked.data());
  FMaskedPixels += ApplyMask(FRows.data(), rows.Width, rows.Height, size_t{rows.Width} * 3, FMasked.data());
  FNextRow += rows.Height;

  TRowView masked;
  masked.Top = reinterpret_cast<const uint8_t*>(FRows.data());
  masked.Stride = static_cast<ptrdiff_t>(rows.RowBytes());
  masked.Width = rows.Width;
  masked.Height = rows.Height;
  if (!FTarget.Put(masked)) FFailed = true;
  return !FFailed;
}

bool TMaskingSink::Finish() {
  const bool complete = !FFailed && FNextRow == FGrid.Height;
  const bool finished = FTarget.Finish();
  return complete && finished;
}
