#include "AreaCrop.h"

#include <cwctype>

#include "Jp2Header.h"
#include "OutputMetadata.h"
#include "TextCodec.h"

namespace {
// "T" two digits and three letters: the MGRS tile of a Sentinel-2 name.
bool IsTileToken(const std::wstring& name, size_t at) {
  if (at + 6 > name.size() || name[at] != L'T') return false;
  for (size_t k = 1; k < 6; ++k) {
    const wchar_t c = name[at + k];
    if (k < 3 ? !(c >= L'0' && c <= L'9') : !(c >= L'A' && c <= L'Z')) return false;
  }
  return at + 6 == name.size() || name[at + 6] == L'_';
}
}  // namespace

std::wstring TileOfBand(const std::wstring& bandFile) {
  const std::wstring name = FileNamePart(bandFile);
  for (size_t at = 0; at < name.size(); ++at)
    if ((at == 0 || name[at - 1] == L'_') && IsTileToken(name, at)) return name.substr(at, 6);
  return name;
}

std::wstring WindowNameTag(const TPixelWindow& window) {
  const std::string suffix = WindowSuffix(window);
  return std::wstring(suffix.begin(), suffix.end());
}

TAreaPlacement PlaceArea(const TAreaOfInterest& area, const TBandNames& names, unsigned reduce) {
  TAreaPlacement placement;
  const std::optional<TGridGeoreference> full = CompositeGrid(names);
  const std::optional<TGridGeoreference> grid = full ? ReducedGrid(*full, reduce) : std::nullopt;
  TJp2Header header;
  std::string why;
  if (!grid || ReadJp2Header(FsPath(names.Red), header, why) != TJp2HeaderStatus::Read) {
    placement.Message = L"cannot crop to the area of interest: the bands of " + FileNamePart(names.Red) +
                        L" carry no common georeferencing";
    return placement;
  }
  if (!IsUtmWgs84(grid->Epsg)) {
    placement.Message = L"cannot crop to the area of interest: the bands of " + FileNamePart(names.Red) +
                        L" are not in a WGS 84 / UTM zone";
    return placement;
  }
  const std::optional<TPixelWindow> window =
      WindowOnGrid(GridBounds(area, grid->Epsg), *grid, header.LoadedWidth(reduce), header.LoadedHeight(reduce));
  if (!window) {
    const std::string message = NoOverlapMessage("");
    placement.Kind = TAreaPlacement::Outside;
    placement.Message = std::wstring(message.begin(), message.end()) + TileOfBand(names.Red);
    return placement;
  }
  placement.Kind = TAreaPlacement::Inside;
  placement.Window = *window;
  placement.Grid = *grid;
  return placement;
}

TBitmap CropComposite(FIBITMAP* composite, const TPixelWindow& window) {
  const uint64_t right = uint64_t{window.Col} + window.Width, bottom = uint64_t{window.Row} + window.Height;
  if (!composite || right > FreeImage_GetWidth(composite) || bottom > FreeImage_GetHeight(composite)) return nullptr;
  // FreeImage counts rows from the top here, as the window does.
  return TBitmap(FreeImage_Copy(composite, static_cast<int>(window.Col), static_cast<int>(window.Row),
                                static_cast<int>(right), static_cast<int>(bottom)));
}

TRowSink& TAreaMask::Wrap(TRowSink& sink) {
  FSink = std::make_unique<TPolygonMaskingSink>(sink, FMask);
  return *FSink;
}

void TAreaMask::Apply(FIBITMAP* composite) const {
  const uint32_t width = FreeImage_GetWidth(composite), height = FreeImage_GetHeight(composite);
  if (width != FMask.Width() || height != FMask.Height()) return;
  std::vector<uint8_t> inside;
  // FreeImage keeps rows bottom-up.
  for (uint32_t y = 0; y < height; ++y)
    BlankOutside(FMask, y, reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(composite, static_cast<int>(height - 1 - y))),
                 inside);
}
