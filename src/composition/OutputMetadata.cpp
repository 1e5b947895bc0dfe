#include "OutputMetadata.h"

#include "CompositionPlatform.h"
#include "Jp2GeoBoxes.h"
#include "TextCodec.h"

std::optional<TGridGeoreference> CompositeGrid(const TBandNames& names) {
  const TJp2Grid red = ReadJp2Grid(FsPath(names.Red));
  if (!red.Georeference || red.Width == 0 || red.Height == 0) return std::nullopt;
  for (const std::wstring* other : {&names.Green, &names.Blue}) {
    const TJp2Grid band = ReadJp2Grid(FsPath(*other));
    if (band.Width != red.Width || band.Height != red.Height || band.Georeference != red.Georeference)
      return std::nullopt;
  }
  return red.Georeference;
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
