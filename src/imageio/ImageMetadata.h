// What a written picture carries besides its samples: a description (the data's attribution),
// GeoTIFF georeferencing and GDAL's nodata value. The writers put in what is set and nothing else.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The three GeoTIFF tags as they are written: ModelPixelScale (33550), ModelTiepoint (33922)
// and GeoKeyDirectory (34735), with the optional double (34736) and ASCII (34737) parameters.
struct TGeoTiffTags {
  double PixelScale[3] = {0, 0, 0};
  double Tiepoint[6] = {0, 0, 0, 0, 0, 0};  // raster (i, j, k) -> model (x, y, z)
  std::vector<uint16_t> GeoKeys;
  std::vector<double> GeoDoubleParams;
  std::string GeoAsciiParams;
};

struct TImageMetadata {
  std::string Description;                // TIFF ImageDescription; PNG tEXt "Description"
  std::string Software;                   // TIFF Software; PNG tEXt "Software": what made the file
  std::optional<TGeoTiffTags> GeoTiff;    // TIFF only
  std::optional<std::string> GdalNoData;  // TIFF only: GDAL_NODATA (42113), e.g. "0"
};
