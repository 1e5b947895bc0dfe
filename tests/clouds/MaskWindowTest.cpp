// A cloud mask read under a window only: every pixel of the window is what the whole mask gives
// there, for the real scene classification (20 m and 60 m under a 60 m and a 10 m grid) and
// MSK_CLASSI, windows inside, across the mask's code-stream tiles, across its edge and wholly
// beside it; and only the part under the window is kept.
#include <gtest/gtest.h>

#include <filesystem>

#include "CloudMask.h"
#include "Jp2Header.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {
// The window of a grid at pixel size metres whose corner is the scene's.
TPlacedGrid Window(const TGridGeoreference& scene, double metres, int col, int row, uint32_t width, uint32_t height) {
  TPlacedGrid grid;
  grid.Georeference = scene;
  grid.Georeference.PixelWidth = grid.Georeference.PixelHeight = metres;
  grid.Georeference.Left += col * metres;
  grid.Georeference.Top -= row * metres;
  grid.Width = width;
  grid.Height = height;
  return grid;
}
}  // namespace

TEST(MaskWindow, EveryPixelUnderTheWindowIsTheWholeMasks) {
  const fs::path scene = testenv::RealData() / "l2a_T29UNU_20221005_unmodified";
  if (testenv::RealData().empty() || !fs::exists(scene)) GTEST_SKIP() << "no real Sentinel-2 data";
  std::string error;
  const TMaskClasses classes = *ParseMaskClasses("0,3,8,9,10", error);
  for (const char* file : {"T29UNU_20221005T115411_SCL_20m.jp2", "T29UNU_20221005T115411_SCL_60m.jp2", "MSK_CLASSI_B00.jp2"}) {
    TMaskSource source;
    source.Kind = std::string(file).rfind("MSK", 0) == 0 ? TMaskKind::CloudClassification : TMaskKind::SceneClassification;
    source.File = scene / file;
    TCloudMask whole;
    ASSERT_TRUE(whole.Load(source, classes, {}, error)) << file << ": " << error;
    const TGridGeoreference corner = whole.Grid().Georeference;
    for (const TPlacedGrid& window :
         {Window(corner, 60, 500, 334, 251, 167), Window(corner, 10, 3000, 2000, 700, 500),
          Window(corner, 60, 150, 170, 60, 50), Window(corner, 60, 1700, -40, 300, 200),
          Window(corner, 60, -500, 100, 200, 100)}) {
      TCloudMask part;
      ASSERT_TRUE(part.Load(source, classes, {}, error, &window)) << file << ": " << error;
      EXPECT_LT(part.Pixels().size(), whole.Pixels().size()) << file;
      std::vector<uint8_t> expected(size_t{window.Width} * window.Height), got(expected.size());
      whole.Rows(window, 0, window.Height, expected.data());
      part.Rows(window, 0, window.Height, got.data());
      ASSERT_EQ(got, expected) << file << " under the window at " << window.Georeference.Left << ", "
                               << window.Georeference.Top;
    }
  }
}
