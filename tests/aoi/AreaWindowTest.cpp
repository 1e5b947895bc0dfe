// The window of an area on a tile's grid against GDAL's: TransformBounds densified to 21 points
// per edge, snapped outward and clipped, for boxes at each corner of a tile, across its edges,
// inside and wholly outside, on the real north and south hemisphere tiles and on a grid of odd
// size and pixel. GDAL's answers are made natively before the tests (gdal_references.py), so
// that the Windows build compares with the same ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "AreaWindow.h"
#include "Georeference.h"
#include "Jp2GeoBoxes.h"
#include "RealData.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {
struct TGrid {
  TGridGeoreference Georeference;
  uint32_t Width = 0, Height = 0;
};

// Compares our window with each of GDAL's in OUT/window-NAME.txt, on the grid the file names;
// expected, when given, is the grid the test itself reads, which must be the one GDAL read.
void CompareWithGdal(const std::string& name, const TGrid* expected = nullptr) {
  const fs::path file = testenv::FromEnv("BANDWEAVE_AOI_REFERENCES") / ("window-" + name + ".txt");
  std::ifstream in(file);
  ASSERT_TRUE(in) << "no GDAL reference " << file.u8string() << " (made by the gdal-references fixture)";
  std::string line;
  std::getline(in, line);
  TGrid g;
  ASSERT_EQ(std::sscanf(line.c_str(), "grid %d %lf %lf %lf %u %u", &g.Georeference.Epsg, &g.Georeference.Left,
                        &g.Georeference.Top, &g.Georeference.PixelWidth, &g.Width, &g.Height),
            6)
      << line;
  g.Georeference.PixelHeight = g.Georeference.PixelWidth;
  if (expected) {
    ASSERT_EQ(g.Georeference, expected->Georeference) << "GDAL read another grid";
    ASSERT_EQ(g.Width, expected->Width);
    ASSERT_EQ(g.Height, expected->Height);
  }
  int places = 0, overlapping = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string place, box, bounds, window;
    std::getline(fields, place, '\t');
    std::getline(fields, box, '\t');
    std::getline(fields, bounds, '\t');
    std::getline(fields, window, '\t');
    SCOPED_TRACE(name + ", " + place + ": GDAL says " + bounds + " / " + window);
    TLonLatBox lonLat;
    TProjectedBox gdal;
    ASSERT_EQ(std::sscanf(box.c_str(), "%lf %lf %lf %lf", &lonLat.West, &lonLat.South, &lonLat.East, &lonLat.North), 4);
    ASSERT_EQ(std::sscanf(bounds.c_str(), "%lf %lf %lf %lf", &gdal.MinX, &gdal.MinY, &gdal.MaxX, &gdal.MaxY), 4);
    ++places;

    const TProjectedBox ours = UtmBounds(lonLat, g.Georeference.Epsg);
    EXPECT_NEAR(ours.MinX, gdal.MinX, 1e-3);
    EXPECT_NEAR(ours.MinY, gdal.MinY, 1e-3);
    EXPECT_NEAR(ours.MaxX, gdal.MaxX, 1e-3);
    EXPECT_NEAR(ours.MaxY, gdal.MaxY, 1e-3);
    const std::optional<TPixelWindow> got = WindowOnGrid(ours, g.Georeference, g.Width, g.Height);
    if (window == "none") {
      EXPECT_FALSE(got);
      continue;
    }
    TPixelWindow want;
    ASSERT_EQ(std::sscanf(window.c_str(), "%u %u %u %u", &want.Col, &want.Row, &want.Width, &want.Height), 4);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->Col, want.Col);
    EXPECT_EQ(got->Row, want.Row);
    EXPECT_EQ(got->Width, want.Width);
    EXPECT_EQ(got->Height, want.Height);
    ++overlapping;
  }
  EXPECT_EQ(places, 9) << "every corner, edge, the centre and two places beyond the tile";
  EXPECT_EQ(overlapping, 7) << "every corner, edge and the centre meet the tile";
}

TGrid RealGrid(const fs::path& band) {
  const TJp2Grid jp2 = ReadJp2Grid(band);
  if (!jp2.Georeference) return {};
  return {*jp2.Georeference, jp2.Width, jp2.Height};
}
}  // namespace

TEST(AreaWindow, MatchesGdalOnTheRealNorthernTileAt60m) {
  const fs::path folder = testenv::RealData() / "l2a_T29UNU_20221005_unmodified";
  BANDWEAVE_NEED_REAL_DATA(folder);
  const TGrid g = RealGrid(folder / "T29UNU_20221005T115411_B04_60m.jp2");
  ASSERT_EQ(g.Georeference.Epsg, 32629);
  CompareWithGdal("T29UNU-60m", &g);
  // The same tile at --reduce 2: pixels of 240 m.
  const TGrid reduced{*ReducedGrid(g.Georeference, 2), (g.Width + 3) / 4, (g.Height + 3) / 4};
  CompareWithGdal("T29UNU-240m", &reduced);
}

TEST(AreaWindow, MatchesGdalOnTheRealSouthernTile) {
  const fs::path folder = testenv::RealData() / "l2a_T22HBD_20210122_R10m_downsampled_100px";
  BANDWEAVE_NEED_REAL_DATA(folder);
  const TGrid g = RealGrid(folder / "T22HBD_20210122T133229_B04_10m.jp2");
  ASSERT_EQ(g.Georeference.Epsg, 32722);
  CompareWithGdal("T22HBD", &g);
}

TEST(AreaWindow, MatchesGdalOnAGridOfOddSizeAndPixel) {
  // Zone 33N, 1001 x 777 pixels of 37 m.
  TGrid g;
  g.Georeference.Epsg = 32633;
  g.Georeference.Left = 399960;
  g.Georeference.Top = 5300040;
  g.Georeference.PixelWidth = g.Georeference.PixelHeight = 37;
  g.Width = 1001;
  g.Height = 777;
  CompareWithGdal("odd", &g);
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
