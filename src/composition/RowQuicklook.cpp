#include "RowQuicklook.h"

#include <new>

#include "OutputMetadata.h"
#include "Quicklook.h"
#include "TextCodec.h"
#include "TrueColour.h"

namespace {
uint32_t Reduced(uint32_t size, unsigned reduce) {
  return static_cast<uint32_t>((uint64_t{size} + (uint64_t{1} << reduce) - 1) >> reduce);
}
}  // namespace

TRowQuicklook::TRowQuicklook(uint32_t width, uint32_t height, unsigned reduce, const int (&offsets)[3])
    : FWidth(width), FHeight(height), FOutWidth(Reduced(width, reduce)), FOutHeight(Reduced(height, reduce)),
      FReduce(reduce), FOffsets{offsets[0], offsets[1], offsets[2]} {
  FPicture.reset(FreeImage_Allocate(static_cast<int>(FOutWidth), static_cast<int>(FOutHeight), 24));
  try {
    FSums.assign(size_t{FOutWidth} * 3, 0);
    FCounts.assign(FOutWidth, 0);
  } catch (const std::bad_alloc&) {
    FPicture.reset();
  }
  FFailed = !FPicture;
}

void TRowQuicklook::EmitRow() {
  // FreeImage keeps rows bottom-up, bytes blue, green, red.
  BYTE* line = FreeImage_GetScanLine(FPicture.get(), static_cast<int>(FOutHeight - 1 - FOutRow));
  const int byteOf[3] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE};
  for (uint32_t x = 0; x < FOutWidth; ++x) {
    const uint32_t count = FCounts[x];
    for (int c = 0; c < 3; ++c) {
      const uint64_t mean = count ? (FSums[3 * size_t{x} + c] + count / 2) / count : 0;
      line[3 * x + byteOf[c]] = TrueColourByte(static_cast<uint16_t>(mean), FOffsets[c]);
    }
  }
  std::fill(FSums.begin(), FSums.end(), 0);
  std::fill(FCounts.begin(), FCounts.end(), 0);
  ++FOutRow;
}

bool TRowQuicklook::Put(const TRowView& rows) {
  if (FFailed || rows.Width != FWidth || uint64_t{FRow} + rows.Height > FHeight) return !(FFailed = true);
  for (uint32_t y = 0; y < rows.Height; ++y) {
    const uint16_t* pixel = rows.Row(y);
    for (uint32_t x = 0; x < FWidth; ++x, pixel += 3) {
      // A pixel without all three bands is no data, and counts for nothing.
      if (!pixel[0] || !pixel[1] || !pixel[2]) continue;
      const uint32_t out = x >> FReduce;
      for (int c = 0; c < 3; ++c) FSums[3 * size_t{out} + c] += pixel[c];
      ++FCounts[out];
    }
    ++FRow;
    if ((FRow & ((1u << FReduce) - 1)) == 0 || FRow == FHeight) EmitRow();
  }
  return true;
}

bool TRowQuicklook::Finish() { return !FFailed && FRow == FHeight && FOutRow == FOutHeight; }

bool TRowQuicklook::Save(const std::wstring& path) {
  if (FFailed || FOutRow != FOutHeight) return false;
  FreeImage_SetMetadataKeyValue(FIMD_COMMENTS, FPicture.get(), "Description", kAttribution);
  return SaveQuicklookPng(FPicture.get(), path);
}
