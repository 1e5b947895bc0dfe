// The window of an area on a tile's grid against GDAL's: TransformBounds densified to 21 points
// per edge, snapped outward and clipped, for boxes at each corner of a tile, across its edges,
// inside and wholly outside, on the real north and south hemisphere tiles and on a grid of odd
// size and pixel.
#include <gtest/gtest.h>

#include <GeographicLib/TransverseMercator.hpp>
#include <cstdio>
#include <string>

#include "AreaWindow.h"
#include "Georeference.h"
#include "Jp2GeoBoxes.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {
struct TGrid {
  TGridGeoreference Georeference;
  uint32_t Width, Height;
};

// The longitude and latitude of a point given in pixels of the grid (may lie outside it).
TLonLat LonLatOf(const TGrid& g, double col, double row) {
  const int zone = g.Georeference.Epsg % 100;
  const double x = g.Georeference.Left + col * g.Georeference.PixelWidth - 500000.0;
  double y = g.Georeference.Top - row * g.Georeference.PixelHeight;
  if (g.Georeference.Epsg > 32700) y -= 10000000.0;
  TLonLat p;
  GeographicLib::TransverseMercator::UTM().Reverse(zone * 6.0 - 183.0, x, y, p.Lat, p.Lon);
  return p;
}

std::string Run(const std::string& command) {
  std::string out;
#if !defined(_WIN32)
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[256];
  while (fgets(buf, sizeof buf, pipe)) out += buf;
  if (pclose(pipe) != 0) ADD_FAILURE() << command << "\n" << out;
#else
  (void)command;
#endif
  return out;
}

bool HaveGdal() {
#if defined(_WIN32)
  return false;
#else
  return std::system(BANDWEAVE_SYSTEM_PYTHON " -c 'from osgeo import osr' 2>/dev/null") == 0;
#endif
}

// Boxes of about six pixels around each corner, edge middle and the centre, and beyond the
// tile on two sides, compared with GDAL.
void CompareWithGdal(const TGrid& g, const char* name) {
  const double w = g.Width, h = g.Height;
  const struct {
    const char* where;
    double col, row;
  } places[] = {{"north-west corner", 0, 0},   {"north-east corner", w, 0}, {"south-west corner", 0, h},
                {"south-east corner", w, h},   {"north edge", w / 2, 0},    {"east edge", w, h / 3},
                {"centre", w / 2, h / 2},      {"west of the tile", -w / 3, h / 2},
                {"south of the tile", w / 2, 1.5 * h}};
  int overlapping = 0;
  for (const auto& place : places) {
    const TLonLat a = LonLatOf(g, place.col - 3, place.row + 3), b = LonLatOf(g, place.col + 3, place.row - 3);
    const TLonLatBox box{std::min(a.Lon, b.Lon), std::min(a.Lat, b.Lat), std::max(a.Lon, b.Lon),
                         std::max(a.Lat, b.Lat)};
    const TProjectedBox ours = UtmBounds(box, g.Georeference.Epsg);
    const std::optional<TPixelWindow> window = WindowOnGrid(ours, g.Georeference, g.Width, g.Height);

    char command[512];
    std::snprintf(command, sizeof command, "%s %s/window_reference.py %d %.17g %.17g %.17g %u %u %.17g %.17g %.17g %.17g",
                  BANDWEAVE_SYSTEM_PYTHON, BANDWEAVE_AOI_TESTS, g.Georeference.Epsg, g.Georeference.Left,
                  g.Georeference.Top, g.Georeference.PixelWidth, g.Width, g.Height, box.West, box.South, box.East,
                  box.North);
    const std::string reference = Run(command);
    TProjectedBox gdal;
    TPixelWindow expected;
    int consumed = 0;
    ASSERT_EQ(std::sscanf(reference.c_str(), "%lf %lf %lf %lf %n", &gdal.MinX, &gdal.MinY, &gdal.MaxX, &gdal.MaxY,
                          &consumed),
              4)
        << reference;
    SCOPED_TRACE(std::string(name) + ", " + place.where + ": GDAL says " + reference);
    EXPECT_NEAR(ours.MinX, gdal.MinX, 1e-3);
    EXPECT_NEAR(ours.MinY, gdal.MinY, 1e-3);
    EXPECT_NEAR(ours.MaxX, gdal.MaxX, 1e-3);
    EXPECT_NEAR(ours.MaxY, gdal.MaxY, 1e-3);
    if (reference.compare(consumed, 4, "none") == 0) {
      EXPECT_FALSE(window);
      continue;
    }
    ASSERT_EQ(std::sscanf(reference.c_str() + consumed, "%u %u %u %u", &expected.Col, &expected.Row,
                          &expected.Width, &expected.Height),
              4);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->Col, expected.Col);
    EXPECT_EQ(window->Row, expected.Row);
    EXPECT_EQ(window->Width, expected.Width);
    EXPECT_EQ(window->Height, expected.Height);
    ++overlapping;
  }
  EXPECT_EQ(overlapping, 7) << "every corner, edge and the centre meet the tile";
}

TGrid RealGrid(const char* folder, const char* band) {
  const fs::path real = testenv::RealData();
  if (real.empty()) return {};
  const TJp2Grid jp2 = ReadJp2Grid(real / folder / band);
  if (!jp2.Georeference) return {};
  return {*jp2.Georeference, jp2.Width, jp2.Height};
}
}  // namespace

TEST(AreaWindow, MatchesGdalOnTheRealNorthernTileAt60m) {
  if (!HaveGdal()) GTEST_SKIP() << "no GDAL to compare with";
  const TGrid g = RealGrid("l2a_T29UNU_20221005_unmodified", "T29UNU_20221005T115411_B04_60m.jp2");
  if (!g.Width) GTEST_SKIP() << "no real Sentinel-2 data";
  ASSERT_EQ(g.Georeference.Epsg, 32629);
  CompareWithGdal(g, "T29UNU 60 m");
  // The same tile at --reduce 2: pixels of 240 m.
  CompareWithGdal({*ReducedGrid(g.Georeference, 2), (g.Width + 3) / 4, (g.Height + 3) / 4}, "T29UNU 240 m");
}

TEST(AreaWindow, MatchesGdalOnTheRealSouthernTile) {
  if (!HaveGdal()) GTEST_SKIP() << "no GDAL to compare with";
  const TGrid g = RealGrid("l2a_T22HBD_20210122_R10m_downsampled_100px", "T22HBD_20210122T133229_B04_10m.jp2");
  if (!g.Width) GTEST_SKIP() << "no real Sentinel-2 data";
  ASSERT_EQ(g.Georeference.Epsg, 32722);
  CompareWithGdal(g, "T22HBD");
}

TEST(AreaWindow, MatchesGdalOnAGridOfOddSizeAndPixel) {
  if (!HaveGdal()) GTEST_SKIP() << "no GDAL to compare with";
  TGridGeoreference geo;
  geo.Epsg = 32633;
  geo.Left = 399960;
  geo.Top = 5300040;
  geo.PixelWidth = geo.PixelHeight = 37;
  CompareWithGdal({geo, 1001, 777}, "zone 33N, 1001 x 777 of 37 m");
}

TEST(AreaWindow, ProjwinSnapsOutwardToWholePixelsAndIsClipped) {
  TGridGeoreference geo;
  geo.Epsg = 32629;
  geo.Left = 499980;
  geo.Top = 6000000;
  geo.PixelWidth = geo.PixelHeight = 60;
  // On pixel edges: exactly those pixels.
  auto w = WindowOnGrid({499980 + 600, 6000000 - 1200, 499980 + 1200, 6000000 - 600}, geo, 1830, 1830);
  ASSERT_TRUE(w);
  EXPECT_EQ(*w, (TPixelWindow{10, 10, 10, 10}));
  // A metre inside each edge still takes the pixels it touches; a metre beyond takes one more.
  w = WindowOnGrid({499980 + 601, 6000000 - 1199, 499980 + 1199, 6000000 - 601}, geo, 1830, 1830);
  EXPECT_EQ(*w, (TPixelWindow{10, 10, 10, 10}));
  w = WindowOnGrid({499980 + 599, 6000000 - 1201, 499980 + 1201, 6000000 - 599}, geo, 1830, 1830);
  EXPECT_EQ(*w, (TPixelWindow{9, 9, 12, 12}));
  // Over the south-east corner: clipped to the tile.
  w = WindowOnGrid({499980 + 109000, 5890200 - 5000, 499980 + 120000, 5890200 + 700}, geo, 1830, 1830);
  EXPECT_EQ(*w, (TPixelWindow{1816, 1818, 14, 12}));
  // Touching the tile's edge only, or beyond it: nothing.
  EXPECT_FALSE(WindowOnGrid({499980 - 600, 5990000, 499980, 5995000}, geo, 1830, 1830));
  EXPECT_FALSE(WindowOnGrid({400000, 5990000, 410000, 5995000}, geo, 1830, 1830));
}

TEST(AreaWindow, TheWindowKeepsItsPixelsOnTheGround) {
  TGridGeoreference geo;
  geo.Epsg = 32629;
  geo.Left = 499980;
  geo.Top = 6000000;
  geo.PixelWidth = geo.PixelHeight = 60;
  const TGridGeoreference moved = WindowGrid(geo, {512, 640, 300, 200});
  EXPECT_EQ(moved.Left, 499980 + 512 * 60);
  EXPECT_EQ(moved.Top, 6000000 - 640 * 60);
  EXPECT_EQ(moved.PixelWidth, 60);
  EXPECT_EQ(moved.Epsg, 32629);
}

TEST(AreaWindow, CroppedNamesCarryTheWindowBeforeTheExtension) {
  const TPixelWindow w{512, 640, 300, 200};
  EXPECT_EQ(WithWindowSuffix(L"C:\\s2\\T29UNU_20221005T115411_48_60m.tif", w),
            L"C:\\s2\\T29UNU_20221005T115411_48_60m_x512y640w300h200.tif");
  EXPECT_EQ(WithWindowSuffix(L"/data/a.b/T29UNU_48", w), L"/data/a.b/T29UNU_48_x512y640w300h200");
  EXPECT_EQ(NoOverlapMessage("T29UNU"), "The area of interest does not overlap tile T29UNU");
}
