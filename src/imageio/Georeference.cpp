#include "Georeference.h"

#include <charconv>
#include <cmath>

namespace {
// GeoTIFF key ids and values used here.
constexpr uint16_t kGTModelType = 1024, kGTRasterType = 1025, kProjectedCSType = 3072;
constexpr uint16_t kModelProjected = 1, kRasterPixelIsArea = 1;
}  // namespace

bool IsUtmWgs84(int epsg) { return (epsg >= 32601 && epsg <= 32660) || (epsg >= 32701 && epsg <= 32760); }

bool IsFinite(const TGridGeoreference& grid) {
  for (double value : {grid.Left, grid.Top, grid.PixelWidth, grid.PixelHeight, grid.Left + grid.PixelWidth / 2,
                       grid.Top - grid.PixelHeight / 2})
    if (!std::isfinite(value)) return false;
  return true;
}

std::optional<TGridGeoreference> ReducedGrid(const TGridGeoreference& grid, unsigned reduce) {
  TGridGeoreference g = grid;
  const double factor = static_cast<double>(1u << (reduce > 16 ? 16 : reduce));
  g.PixelWidth *= factor;
  g.PixelHeight *= factor;
  if (!IsFinite(g)) return std::nullopt;
  return g;
}

TGeoTiffTags GeoTiffTagsFor(const TGridGeoreference& grid) {
  TGeoTiffTags t;
  t.PixelScale[0] = grid.PixelWidth;
  t.PixelScale[1] = grid.PixelHeight;
  t.Tiepoint[3] = grid.Left;
  t.Tiepoint[4] = grid.Top;
  // Header (version 1, revision 1.0, three keys), then the keys in ascending order.
  t.GeoKeys = {1, 1, 0, 3,
               kGTModelType, 0, 1, kModelProjected,
               kGTRasterType, 0, 1, kRasterPixelIsArea,
               kProjectedCSType, 0, 1, static_cast<uint16_t>(grid.Epsg)};
  return t;
}

std::string ExactNumber(double value) {
  // Fixed notation, the shortest that reads back exactly: "300000", never "3e+05".
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (result.ec != std::errc()) return std::to_string(value);
  return std::string(buffer, result.ptr);
}

std::string WorldFileText(const TGridGeoreference& grid) {
  return ExactNumber(grid.PixelWidth) + "\n0\n0\n" + ExactNumber(-grid.PixelHeight) + "\n" +
         ExactNumber(grid.Left + grid.PixelWidth / 2) + "\n" + ExactNumber(grid.Top - grid.PixelHeight / 2) + "\n";
}

std::string UtmWkt(int epsg) {
  if (!IsUtmWgs84(epsg)) return {};
  const bool north = epsg < 32700;
  const int zone = epsg % 100;
  const std::string name = "WGS 84 / UTM zone " + std::to_string(zone) + (north ? "N" : "S");
  return "PROJCS[\"" + name +
         "\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,"
         "AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,"
         "AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],"
         "AUTHORITY[\"EPSG\",\"4326\"]],PROJECTION[\"Transverse_Mercator\"],"
         "PARAMETER[\"latitude_of_origin\",0],PARAMETER[\"central_meridian\"," +
         std::to_string(zone * 6 - 183) +
         "],PARAMETER[\"scale_factor\",0.9996],PARAMETER[\"false_easting\",500000],"
         "PARAMETER[\"false_northing\"," +
         (north ? "0" : "10000000") +
         "],UNIT[\"metre\",1,AUTHORITY[\"EPSG\",\"9001\"]],AXIS[\"Easting\",EAST],AXIS[\"Northing\",NORTH],"
         "AUTHORITY[\"EPSG\",\"" +
         std::to_string(epsg) + "\"]]";
}

std::string PamXmlText(const TGridGeoreference& grid) {
  // The WKT holds quotes and brackets only, nothing XML would need escaped.
  return "<PAMDataset>\n  <SRS dataAxisToSRSAxisMapping=\"1,2\">" + UtmWkt(grid.Epsg) + "</SRS>\n</PAMDataset>\n";
}
