#include "OutputMetadata.h"

#include "CompositionPlatform.h"
#include "Jp2GeoBoxes.h"
#include "Jp2Header.h"
#include "TextCodec.h"

namespace {
// The grid of the picture the red band loads as. A subsampled band loads at its component's
// size: its pixels are the grid's times the sampling step, which is exact only when the picture
// starts at the grid's origin and the steps divide its size; otherwise it is left unplaced
// rather than placed on the wrong ground. So is a band whose header cannot be read.
std::optional<TGridGeoreference> LoadedGrid(const TGridGeoreference& grid, const std::wstring& red) {
  TJp2Header header;
  std::string why;
  if (ReadJp2Header(FsPath(red), header, why) != TJp2HeaderStatus::Read) return std::nullopt;
  if (header.ComponentWidth == header.Width && header.ComponentHeight == header.Height) return grid;
  if (header.X0 != 0 || header.Y0 != 0 || uint64_t{header.ComponentWidth} * header.ComponentStepX != header.Width ||
      uint64_t{header.ComponentHeight} * header.ComponentStepY != header.Height)
    return std::nullopt;
  TGridGeoreference loaded = grid;
  loaded.PixelWidth *= header.ComponentStepX;
  loaded.PixelHeight *= header.ComponentStepY;
  if (!IsFinite(loaded)) return std::nullopt;
  return loaded;
}
}  // namespace

std::optional<TGridGeoreference> CompositeGrid(const TBandNames& names) {
  const TJp2Grid red = ReadJp2Grid(FsPath(names.Red));
  if (!red.Georeference || red.Width == 0 || red.Height == 0) return std::nullopt;
  for (const std::wstring* other : {&names.Green, &names.Blue}) {
    const TJp2Grid band = ReadJp2Grid(FsPath(*other));
    if (band.Width != red.Width || band.Height != red.Height || band.Georeference != red.Georeference)
      return std::nullopt;
  }
  return LoadedGrid(*red.Georeference, names.Red);
}

TImageMetadata CompositeMetadata(const std::optional<TGridGeoreference>& grid) {
  TImageMetadata metadata;
  metadata.Description = kAttribution;
  if (grid) {
    metadata.GeoTiff = GeoTiffTagsFor(*grid);
    metadata.GdalNoData = "0";  // Sentinel-2 writes 0 where there is no data
  }
  return metadata;
}
