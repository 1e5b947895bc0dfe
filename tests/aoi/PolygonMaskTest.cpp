// The polygon mask against gdal_rasterize's burn of the same GeoJSON onto the same grid: pixel
// centres, a polygon with a hole, a MultiPolygon, and polygons reaching past the window. The
// burns are made natively before the tests (gdal_references.py), over the whole grid, so that
// the Windows build compares with the same ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AreaOfInterest.h"
#include "AreaWindow.h"
#include "Georeference.h"
#include "PolygonMask.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {
// The grid the references are burnt on: T29UNU's zone at 60 m.
constexpr uint32_t kGridSide = 1830;
TGridGeoreference Grid() {
  TGridGeoreference g;
  g.Epsg = 32629;
  g.Left = 499980;
  g.Top = 6000000;
  g.PixelWidth = g.PixelHeight = 60;
  return g;
}

// The area NAME.geojson against gdal_rasterize's burn NAME.bin over the window our code takes
// for it, or over forced.
void CompareWithRasterize(const std::string& name, const char* what, const TPixelWindow* forced = nullptr) {
  SCOPED_TRACE(what);
  const fs::path references = testenv::FromEnv("BANDWEAVE_AOI_REFERENCES");
  std::string error;
  const auto area = ReadAreaFile(references / (name + ".geojson"), error);
  ASSERT_TRUE(area) << error;
  std::ifstream in(references / (name + ".bin"), std::ios::binary);
  const std::vector<uint8_t> gdal((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(gdal.size(), size_t{kGridSide} * kGridSide) << "no burn of " << name << " (the gdal-references fixture)";

  const TGridGeoreference g = Grid();
  std::optional<TPixelWindow> window = WindowOnGrid(GridBounds(*area, g.Epsg), g, kGridSide, kGridSide);
  ASSERT_TRUE(window);
  if (forced) window = *forced;
  const TPolygonMask mask(area->Polygons, g, *window);
  std::vector<uint8_t> ours(window->Width);
  size_t inside = 0, differ = 0, pixels = size_t{window->Width} * window->Height;
  for (uint32_t r = 0; r < window->Height; ++r) {
    mask.Row(r, ours.data());
    const uint8_t* burnt = gdal.data() + size_t{window->Row + r} * kGridSide + window->Col;
    for (uint32_t c = 0; c < window->Width; ++c) {
      inside += ours[c];
      differ += ours[c] != burnt[c];
    }
  }
  std::printf("%s: window %s, %zu of %zu pixels inside, %zu differ from gdal_rasterize\n", what,
              WindowSuffix(*window).c_str(), inside, pixels, differ);
  EXPECT_EQ(differ, 0u);
  EXPECT_GT(inside, pixels / 10) << "the case tests nothing if hardly any pixel is inside";
  EXPECT_LT(inside, pixels) << "nor if every pixel is";
}
}  // namespace

TEST(PolygonMask, MatchesGdalRasterize) {
  // A skewed field with a pond in it.
  CompareWithRasterize("hole", "a polygon with a hole");
  // Two lakes apart, one a triangle, and a thin strip.
  CompareWithRasterize("multipolygon", "a MultiPolygon");
  // Features over the tile's west edge: the window is clipped there, the polygon is not.
  CompareWithRasterize("over-the-edge", "two features over the tile's edge");
  // A window that cuts through the field: only what falls inside it.
  const TPixelWindow part{760, 900, 60, 70};
  CompareWithRasterize("field", "a window through the polygon", &part);
}
