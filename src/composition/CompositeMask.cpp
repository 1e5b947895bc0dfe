#include "CompositeMask.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "AreaWindow.h"
#include "CompositionPlatform.h"
#include "ImageFiles.h"
#include "DateMedian.h"
#include "Jp2Header.h"
#include "MaskSource.h"
#include "OutputMetadata.h"
#include "TextCodec.h"

namespace {
// Rows of mask decided at a time over a whole Composite.
constexpr uint32_t kMaskRun = 256;
}  // namespace

bool TCompositeMask::Prepare(const TBandNames& names, unsigned reduce, const TPixelWindow* window,
                             const TMaskClasses& classes, std::wstring& error) {
  const std::filesystem::path red = FsPath(names.Red);
  const TMaskSource source = FindMaskSource(red);
  if (source.Kind == TMaskKind::None) {
    error = FromUtf8(source.Why);
    return false;
  }
  std::optional<TGridGeoreference> grid = CompositeGrid(names);
  if (grid && reduce) grid = ReducedGrid(*grid, reduce);
  TJp2Header header;
  std::string why;
  if (!grid || ReadJp2Header(red, header, why) != TJp2HeaderStatus::Read) {
    error = L"cannot place the cloud mask: the bands of " + FileNamePart(names.Red) + L" carry no common georeferencing";
    return false;
  }
  FGrid.Georeference = *grid;
  FGrid.Width = header.LoadedWidth(reduce);
  FGrid.Height = header.LoadedHeight(reduce);
  if (window) {
    FGrid.Georeference = WindowGrid(FGrid.Georeference, *window);
    FGrid.Width = window->Width;
    FGrid.Height = window->Height;
  }
  // Under a window, the mask is read over the window alone.
  if (!FMask.Load(source, classes, TWorkCallbacks{}, why, window ? &FGrid : nullptr) || !FMask.Covers(FGrid, why)) {
    error = FromUtf8(why);
    return false;
  }
  return true;
}

TRowSink& TCompositeMask::Wrap(TRowSink& sink) {
  FSink = std::make_unique<TMaskingSink>(sink, FMask, FGrid);
  return *FSink;
}

void TCompositeMask::Apply(FIBITMAP* composite) {
  const uint32_t width = FreeImage_GetWidth(composite), height = FreeImage_GetHeight(composite);
  if (width != FGrid.Width || height != FGrid.Height) return;
  std::vector<uint8_t> masked(size_t{width} * kMaskRun);
  FMasked = 0;
  for (uint32_t first = 0; first < height; first += kMaskRun) {
    const uint32_t count = std::min(kMaskRun, height - first);
    FMask.Rows(FGrid, first, count, masked.data());
    // FreeImage keeps rows bottom-up.
    for (uint32_t y = 0; y < count; ++y) {
      auto* row = reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(composite, static_cast<int>(height - 1 - first - y)));
      FMasked += ApplyMask(row, width, 1, 0, masked.data() + size_t{y} * width);
    }
  }
  FPixels = uint64_t{width} * height;
}

uint64_t TCompositeMask::MaskedPixels() const { return FSink ? FSink->MaskedPixels() : FMasked; }
uint64_t TCompositeMask::Pixels() const { return FSink ? FSink->Pixels() : FPixels; }

std::wstring MaskedShareText(uint64_t masked, uint64_t pixels) {
  char text[64];
  std::snprintf(text, sizeof text, "masked: %.2f %% of pixels", pixels ? 100.0 * static_cast<double>(masked) / pixels : 0.0);
  return FromUtf8(text);
}
