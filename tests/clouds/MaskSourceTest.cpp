// Where a band's cloud mask is found: the product layouts, the order of preference, the one
// granule only, and a folder of several dates.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "MaskSource.h"
#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {
class MaskSource : public ::testing::Test {
 protected:
  void SetUp() override {
    FWork = testenv::FreshPrivateFolder("bandweave-masksource-" +
                                        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FWork, ignored);
  }
  static fs::path Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
    return path;
  }
  fs::path FWork;
};
}  // namespace

TEST_F(MaskSource, ProductGranulePrefersTheFinerClassificationThenTheCloudMask) {
  const fs::path granule = FWork / "P.SAFE" / "GRANULE" / "L2A_T29UNU_A1_20221005T115411";
  const fs::path band = Touch(granule / "IMG_DATA" / "R60m" / "T29UNU_20221005T115411_B04_60m.jp2");
  const fs::path scl20 = Touch(granule / "IMG_DATA" / "R20m" / "T29UNU_20221005T115411_SCL_20m.jp2");
  const fs::path scl60 = Touch(granule / "IMG_DATA" / "R60m" / "T29UNU_20221005T115411_SCL_60m.jp2");
  const fs::path classi = Touch(granule / "QI_DATA" / "MSK_CLASSI_B00.jp2");
  // A mask of the product's folder, above the granule, is never taken.
  Touch(FWork / "P.SAFE" / "T29UNU_20221005T115411_SCL_20m.jp2");

  TMaskSource found = FindMaskSource(band);
  EXPECT_EQ(found.Kind, TMaskKind::SceneClassification);
  EXPECT_TRUE(fs::equivalent(found.File, scl20));
  fs::remove(scl20);
  found = FindMaskSource(band);
  EXPECT_EQ(found.Kind, TMaskKind::SceneClassification);
  EXPECT_TRUE(fs::equivalent(found.File, scl60));
  fs::remove(scl60);
  found = FindMaskSource(band);
  EXPECT_EQ(found.Kind, TMaskKind::CloudClassification);
  EXPECT_TRUE(fs::equivalent(found.File, classi));
  fs::remove(classi);
  found = FindMaskSource(band);
  EXPECT_EQ(found.Kind, TMaskKind::None);
  EXPECT_EQ(found.Why,
            "no cloud mask for T29UNU_20221005T115411_B04_60m.jp2: neither a scene classification "
            "(T29UNU_20221005T115411_SCL_20m.jp2 or _SCL_60m.jp2) nor MSK_CLASSI_B00.jp2 in its folder or its granule");
}

TEST_F(MaskSource, L1cGranuleHasOnlyTheCloudMask) {
  const fs::path granule = FWork / "L1C.SAFE" / "GRANULE" / "L1C_T33UUP_A1_20250101T101021";
  const fs::path band = Touch(granule / "IMG_DATA" / "T33UUP_20250101T101021_B03.jp2");
  const fs::path classi = Touch(granule / "QI_DATA" / "msk_classi_b00.JP2");
  const TMaskSource found = FindMaskSource(band);
  EXPECT_EQ(found.Kind, TMaskKind::CloudClassification);
  EXPECT_TRUE(fs::equivalent(found.File, classi));
}

TEST_F(MaskSource, FolderOfSeveralDatesTakesTheBandsOwnDate) {
  for (const char* date : {"20220905T115411", "20221005T115411", "20221015T115411"}) {
    Touch(FWork / ("T29UNU_" + std::string(date) + "_B04_60m.jp2"));
    Touch(FWork / ("T29UNU_" + std::string(date) + "_SCL_20m.jp2"));
  }
  const TMaskSource found = FindMaskSource(FWork / "T29UNU_20221005T115411_B04_60m.jp2");
  EXPECT_EQ(found.Kind, TMaskKind::SceneClassification);
  EXPECT_EQ(found.File.filename(), "T29UNU_20221005T115411_SCL_20m.jp2");
  // Another tile's classification is not this band's.
  EXPECT_EQ(FindMaskSource(FWork / "T30UUU_20221005T115411_B04_60m.jp2").Kind, TMaskKind::None);
  // A name without tile and date cannot tell three classifications apart.
  EXPECT_EQ(FindMaskSource(FWork / "B04.jp2").Kind, TMaskKind::None);
  EXPECT_EQ(TileDatePrefix("T29UNU_20221005T115411_B04_60m.jp2"), "T29UNU_20221005T115411_");
  EXPECT_EQ(TileDatePrefix("B04.jp2"), "");
}
