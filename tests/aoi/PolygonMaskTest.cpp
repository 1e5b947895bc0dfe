// The polygon mask against gdal_rasterize's burn of the same GeoJSON onto the same window:
// pixel centres, a polygon with a hole, a MultiPolygon, and polygons reaching past the window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AreaOfInterest.h"
#include "AreaWindow.h"
#include "Georeference.h"
#include "PolygonMask.h"

namespace fs = std::filesystem;

namespace {
#if defined(_WIN32)
bool HaveRasterize() { return false; }
#else
bool HaveRasterize() { return std::system("gdal_rasterize --version >/dev/null 2>&1") == 0; }
#endif

// T29UNU's 60 m grid.
TGridGeoreference Grid() {
  TGridGeoreference g;
  g.Epsg = 32629;
  g.Left = 499980;
  g.Top = 6000000;
  g.PixelWidth = g.PixelHeight = 60;
  return g;
}

// gdal_rasterize's burn of the file's polygons onto the window, one byte a pixel, the vertices
// first carried into the grid's zone by ogr2ogr.
std::vector<uint8_t> Rasterize(const fs::path& geojson, const TGridGeoreference& g, const TPixelWindow& w) {
  const TGridGeoreference at = WindowGrid(g, w);
  const fs::path out = geojson.parent_path() / "burnt.bin", utm = geojson.parent_path() / "utm.geojson";
  fs::remove(out);
  fs::remove(utm);
  const std::string reproject = "ogr2ogr -f GeoJSON -t_srs EPSG:" + std::to_string(g.Epsg) + " '" + utm.string() +
                                "' '" + geojson.string() + "'";
  EXPECT_EQ(std::system(reproject.c_str()), 0) << reproject;
  const std::string command =
      "gdal_rasterize -q -burn 1 -ot Byte -of ENVI -a_srs EPSG:" + std::to_string(g.Epsg) + " -te " +
      ExactNumber(at.Left) + " " + ExactNumber(at.Top - w.Height * g.PixelHeight) + " " +
      ExactNumber(at.Left + w.Width * g.PixelWidth) + " " + ExactNumber(at.Top) + " -tr " +
      ExactNumber(g.PixelWidth) + " " + ExactNumber(g.PixelHeight) + " '" + utm.string() + "' '" +
      out.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream in(out, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CompareWithRasterize(const std::string& text, const char* what, const TPixelWindow* forced = nullptr) {
  SCOPED_TRACE(what);
  const fs::path dir = fs::temp_directory_path() / "bandweave-polygon-mask";
  fs::create_directories(dir);
  const fs::path file = dir / "area.geojson";
  std::ofstream(file, std::ios::binary) << text;
  std::string error;
  const auto area = ParseGeoJson(text, error);
  ASSERT_TRUE(area) << error;
  const TGridGeoreference g = Grid();
  std::optional<TPixelWindow> window = WindowOnGrid(GridBounds(*area, g.Epsg), g, 1830, 1830);
  ASSERT_TRUE(window);
  if (forced) window = *forced;

  const TPolygonMask mask(area->Polygons, g, *window);
  std::vector<uint8_t> ours(size_t{window->Width} * window->Height);
  for (uint32_t r = 0; r < window->Height; ++r) mask.Row(r, ours.data() + size_t{r} * window->Width);
  const std::vector<uint8_t> gdal = Rasterize(file, g, *window);
  ASSERT_EQ(gdal.size(), ours.size());
  size_t inside = 0, differ = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    inside += ours[i];
    differ += ours[i] != gdal[i];
  }
  std::printf("%s: window %s, %zu of %zu pixels inside, %zu differ from gdal_rasterize\n", what,
              WindowSuffix(*window).c_str(), inside, ours.size(), differ);
  EXPECT_EQ(differ, 0u);
  EXPECT_GT(inside, ours.size() / 10) << "the case tests nothing if hardly any pixel is inside";
  EXPECT_LT(inside, ours.size()) << "nor if every pixel is";
  fs::remove_all(dir);
}
}  // namespace

TEST(PolygonMask, MatchesGdalRasterize) {
  if (!HaveRasterize()) GTEST_SKIP() << "no gdal_rasterize to compare with";
  // A skewed field with a pond in it.
  CompareWithRasterize(R"({"type":"Feature","properties":{},"geometry":{"type":"Polygon","coordinates":[
      [[-8.31,53.52],[-8.12,53.55],[-8.15,53.66],[-8.27,53.69],[-8.36,53.60],[-8.31,53.52]],
      [[-8.25,53.58],[-8.19,53.585],[-8.22,53.63],[-8.25,53.58]]]}})",
                       "a polygon with a hole");
  // Two lakes apart, one a triangle, and a thin strip.
  CompareWithRasterize(R"({"type":"MultiPolygon","coordinates":[
      [[[-8.90,53.90],[-8.80,53.92],[-8.85,53.99],[-8.90,53.90]]],
      [[[-8.70,53.80],[-8.60,53.80],[-8.60,53.86],[-8.64,53.83],[-8.70,53.86],[-8.70,53.80]]],
      [[[-8.75,53.95],[-8.62,53.951],[-8.62,53.953],[-8.75,53.95]]]]})",
                       "a MultiPolygon");
  // Features over the tile's west edge: the window is clipped there, the polygon is not.
  CompareWithRasterize(R"({"type":"FeatureCollection","features":[
      {"type":"Feature","properties":{},"geometry":{"type":"Polygon","coordinates":[[[-9.1,53.40],[-8.95,53.41],[-8.97,53.47],[-9.1,53.40]]]}},
      {"type":"Feature","properties":{},"geometry":{"type":"Polygon","coordinates":[[[-9.05,53.48],[-8.93,53.50],[-9.0,53.55],[-9.05,53.48]]]}}]})",
                       "two features over the tile's edge");
  // A window that cuts through the polygon: only what falls inside it.
  const TPixelWindow part{760, 900, 60, 70};
  CompareWithRasterize(R"({"type":"Polygon","coordinates":[
      [[-8.31,53.52],[-8.12,53.55],[-8.15,53.66],[-8.27,53.69],[-8.36,53.60],[-8.31,53.52]]]})",
                       "a window through the polygon", &part);
}
