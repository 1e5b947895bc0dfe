// The cloud mask on a composite's grid against GDAL's nearest-neighbour warp of the same file
// at its full resolution (gdalwarp -r near -ovr NONE, made beforehand by make-references.py),
// every pixel, on the real L2A scene: its 20 m scene classification onto the 60 m bands and
// onto rows of tiles of the 10 m grid, and its MSK_CLASSI_B00 onto the 60 m bands.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "CloudMask.h"
#include "CloudReferences.h"
#include "Georeference.h"
#include "Jp2Header.h"
#include "Jp2GeoBoxes.h"
#include "MaskClasses.h"
#include "TempFolder.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {
constexpr const char* kScene = "l2a_T29UNU_20221005_unmodified";
constexpr const char* kStem = "T29UNU_20221005T115411_";

TPlacedGrid GridOf(const fs::path& band) {
  TPlacedGrid grid;
  TJp2Header header;
  std::string error;
  if (ReadJp2Header(band, header, error) != TJp2HeaderStatus::Read) return grid;
  const TJp2Grid placed = ReadJp2Grid(band);
  if (!placed.Georeference) return grid;
  grid.Georeference = *placed.Georeference;
  grid.Width = header.Width;
  grid.Height = header.Height;
  return grid;
}

class CloudMask : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path real = testenv::RealData();
    FScene = real / kScene;
    if (real.empty() || !fs::exists(FScene / "MSK_CLASSI_B00.jp2")) GTEST_SKIP() << "no real Sentinel-2 data";
    FReferences = cloudrefs::Folder() / "mask";
    ASSERT_TRUE(fs::exists(FReferences / "grid-60m.txt")) << "no GDAL references in " << FReferences.string();
    FWork = testenv::FreshPrivateFolder("bandweave-cloudmask-" +
                                        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-");
  }
  void TearDown() override {
    std::error_code ignored;
    if (!FWork.empty()) fs::remove_all(FWork, ignored);
  }

  // GDAL's warp of a mask onto a grid, read beforehand: the grid as GDAL reads it from the band
  // must be ours to the last bit, and the warp as many bytes as the pixels asked for.
  std::vector<uint8_t> Warped(const char* gridFile, const TPlacedGrid& ours, const char* warpFile, size_t bytes) {
    std::ifstream in(FReferences / gridFile);
    TGridGeoreference g;
    uint32_t width = 0, height = 0;
    in >> g.Left >> g.Top >> g.PixelWidth >> g.PixelHeight >> width >> height;
    EXPECT_TRUE(in) << gridFile;
    EXPECT_EQ(ours.Georeference.Left, g.Left);
    EXPECT_EQ(ours.Georeference.Top, g.Top);
    EXPECT_EQ(ours.Georeference.PixelWidth, g.PixelWidth);
    EXPECT_EQ(ours.Georeference.PixelHeight, g.PixelHeight);
    EXPECT_EQ(ours.Width, width);
    EXPECT_EQ(ours.Height, height);
    std::vector<uint8_t> warped = cloudrefs::Read<uint8_t>(FReferences / warpFile);
    EXPECT_EQ(warped.size(), bytes) << warpFile;
    return warped;
  }

  fs::path FScene, FWork, FReferences;
};
}  // namespace

TEST_F(CloudMask, SceneClassificationMatchesGdalOnThe60mGridEveryPixel) {
  const fs::path band = FScene / (std::string(kStem) + "B04_60m.jp2");
  const TMaskSource source = FindMaskSource(band);
  ASSERT_EQ(source.Kind, TMaskKind::SceneClassification);
  ASSERT_EQ(source.File.filename(), std::string(kStem) + "SCL_20m.jp2");
  const TPlacedGrid grid = GridOf(band);
  ASSERT_EQ(grid.Width, 1830u);

  // Drop snow too: the classes set is honoured, not a fixed list.
  std::string error;
  const std::optional<TMaskClasses> classes = ParseMaskClasses("0,1,3,8, 9,10,11", error);
  ASSERT_TRUE(classes) << error;
  TCloudMask mask;
  ASSERT_TRUE(mask.Load(source, *classes, {}, error)) << error;
  ASSERT_TRUE(mask.Covers(grid, error)) << error;
  EXPECT_EQ(mask.Grid().Width, 5490u);

  // Asked for in rows of code-stream tiles (192 at 60 m, the last one shorter), as the
  // streaming job does.
  std::vector<uint8_t> ours(size_t{grid.Width} * grid.Height);
  for (uint32_t first = 0; first < grid.Height; first += 192)
    mask.Rows(grid, first, std::min(192u, grid.Height - first), ours.data() + size_t{first} * grid.Width);
  size_t masked = 0;
  for (uint8_t m : ours) masked += m;
  std::printf("masked at 60 m from the 20 m classes: %.2f %% of pixels\n", 100.0 * masked / ours.size());
  EXPECT_GT(masked, ours.size() / 2);
  EXPECT_LT(masked, ours.size());

  const std::vector<uint8_t> warped = Warped("grid-60m.txt", grid, "scl-60m.u8", ours.size());
  ASSERT_EQ(warped.size(), ours.size());
  size_t differ = 0;
  for (size_t k = 0; k < ours.size(); ++k) differ += ours[k] != (classes->Has(warped[k]) ? 1 : 0);
  EXPECT_EQ(differ, 0u);
}

TEST_F(CloudMask, SceneClassificationMatchesGdalOnA10mTileRow) {
  // The aerosol layer lies on the 10 m grid of the same tile.
  const fs::path band = FScene / (std::string(kStem) + "AOT_10m.jp2");
  const TPlacedGrid grid = GridOf(band);
  ASSERT_EQ(grid.Width, 10980u);
  const TMaskSource source = FindMaskSource(FScene / (std::string(kStem) + "B04_10m.jp2"));
  ASSERT_EQ(source.Kind, TMaskKind::SceneClassification);
  std::string error;
  TCloudMask mask;
  ASSERT_TRUE(mask.Load(source, TMaskClasses::Default(), {}, error)) << error;
  // The fifth row of 1024 x 1024 tiles, and the shorter last one.
  for (const auto& [first, count] : {std::pair<uint32_t, uint32_t>{4096, 1024}, {10240, 740}}) {
    std::vector<uint8_t> ours(size_t{grid.Width} * count);
    mask.Rows(grid, first, count, ours.data());
    const std::string file = "scl-10m-" + std::to_string(first) + ".u8";
    const std::vector<uint8_t> warped = Warped("grid-10m.txt", grid, file.c_str(), ours.size());
    ASSERT_EQ(warped.size(), ours.size());
    size_t differ = 0;
    for (size_t k = 0; k < ours.size(); ++k) differ += ours[k] != (TMaskClasses::Default().Has(warped[k]) ? 1 : 0);
    EXPECT_EQ(differ, 0u) << "rows from " << first;
  }
}

TEST_F(CloudMask, CloudClassificationMatchesGdalOpaqueAndCirrus) {
  // A granule without a scene classification: the cloud mask in QI_DATA is taken.
  const fs::path granule = FWork / "GRANULE" / "L1C_T29UNU";
  fs::create_directories(granule / "IMG_DATA");
  fs::create_directories(granule / "QI_DATA");
  const fs::path band = granule / "IMG_DATA" / "T29UNU_20221005T115411_B04.jp2";
  fs::copy_file(FScene / (std::string(kStem) + "B04_60m.jp2"), band);
  fs::copy_file(FScene / "MSK_CLASSI_B00.jp2", granule / "QI_DATA" / "MSK_CLASSI_B00.jp2");
  // Copies of read-only files stay read-only, and Windows then keeps them from being removed.
  for (const fs::path& copy : {band, granule / "QI_DATA" / "MSK_CLASSI_B00.jp2"})
    fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
  const TMaskSource source = FindMaskSource(band);
  ASSERT_EQ(source.Kind, TMaskKind::CloudClassification);
  const TPlacedGrid grid = GridOf(band);

  std::string error;
  TCloudMask mask, withSnow;
  ASSERT_TRUE(mask.Load(source, TMaskClasses::Default(), {}, error)) << error;
  ASSERT_TRUE(withSnow.Load(source, *ParseMaskClasses("8,9,10,11", error), {}, error)) << error;
  std::vector<uint8_t> ours(size_t{grid.Width} * grid.Height), oursWithSnow(ours.size());
  mask.Rows(grid, 0, grid.Height, ours.data());
  withSnow.Rows(grid, 0, grid.Height, oursWithSnow.data());

  const std::vector<uint8_t> warped = Warped("grid-60m.txt", grid, "classi-60m.u8", 3 * ours.size());
  ASSERT_EQ(warped.size(), 3 * ours.size());
  const uint8_t* opaque = warped.data();
  const uint8_t* cirrus = opaque + ours.size();
  const uint8_t* snow = cirrus + ours.size();
  size_t differ = 0, differWithSnow = 0, masked = 0, snowOnly = 0;
  for (size_t k = 0; k < ours.size(); ++k) {
    const bool cloud = opaque[k] || cirrus[k];
    differ += ours[k] != cloud;
    differWithSnow += oursWithSnow[k] != (cloud || snow[k]);
    masked += cloud;
    snowOnly += snow[k] && !cloud;
  }
  EXPECT_EQ(differ, 0u);
  EXPECT_EQ(differWithSnow, 0u);
  EXPECT_GT(masked, 0u);
  EXPECT_GT(snowOnly, 0u);  // so the snow layer made a difference
}

TEST(CloudMaskGrid, NearestSourceIndexTakesThePixelUnderTheCentre) {
  // 60 m onto 20 m: the middle of three; 20 m onto 10 m: each twice; outside: none.
  EXPECT_EQ(NearestSourceIndex(0, 60, 0, 0, 20, 9), 1);
  EXPECT_EQ(NearestSourceIndex(0, 60, 2, 0, 20, 9), 7);
  EXPECT_EQ(NearestSourceIndex(0, 10, 0, 0, 20, 9), 0);
  EXPECT_EQ(NearestSourceIndex(0, 10, 1, 0, 20, 9), 0);
  EXPECT_EQ(NearestSourceIndex(0, 10, 2, 0, 20, 9), 1);
  EXPECT_EQ(NearestSourceIndex(0, 60, 3, 0, 20, 9), -1);
  EXPECT_EQ(NearestSourceIndex(-100, 60, 0, 0, 20, 9), -1);
  // A centre exactly on an edge belongs to the pixel after it.
  EXPECT_EQ(NearestSourceIndex(0, 40, 0, 0, 20, 9), 1);
}
