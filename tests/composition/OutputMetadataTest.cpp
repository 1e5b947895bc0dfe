// What the job hands the writers besides the samples: the real bands' common grid as GeoTIFF
// tags with GDAL's nodata value, and the attribution. (The writers' own tests read the tags back
// through libtiff; the console tool's test reads the job's output through GDAL.)
#include <gtest/gtest.h>

#include <filesystem>

#include "OutputMetadata.h"
#include "RealData.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

TEST(OutputMetadata, AgreeingBandsGiveGeoTiffTagsAndNoDataAndOthersNone) {
  const fs::path real = testenv::RealData();
  BANDWEAVE_NEED_REAL_DATA(real);
  const fs::path tile = real / "l2a_T29UNU_20221005_unmodified";
  auto band = [&](const fs::path& p) { return p.wstring(); };
  TBandNames names;
  names.Red = band(tile / "T29UNU_20221005T115411_B04_60m.jp2");
  names.Green = band(tile / "T29UNU_20221005T115411_B03_60m.jp2");
  names.Blue = band(tile / "T29UNU_20221005T115411_B02_60m.jp2");

  const std::optional<TGridGeoreference> grid = CompositeGrid(names);
  ASSERT_TRUE(grid);
  const TImageMetadata metadata = CompositeMetadata(grid);
  EXPECT_EQ(metadata.Description, "Contains modified Copernicus Sentinel data");
  ASSERT_TRUE(metadata.GeoTiff);
  EXPECT_EQ(std::vector<double>(metadata.GeoTiff->PixelScale, metadata.GeoTiff->PixelScale + 3),
            (std::vector<double>{60, 60, 0}));
  EXPECT_EQ(std::vector<double>(metadata.GeoTiff->Tiepoint, metadata.GeoTiff->Tiepoint + 6),
            (std::vector<double>{0, 0, 0, 499980, 5900040, 0}));
  EXPECT_EQ(metadata.GeoTiff->GeoKeys,
            (std::vector<uint16_t>{1, 1, 0, 3, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 32629}));
  EXPECT_EQ(metadata.GdalNoData, std::optional<std::string>("0"));

  // One band of another size at the same place, one elsewhere, one with no grid at all: the
  // picture is written as ever, without georeferencing.
  for (const fs::path& other : {tile / "T29UNU_20221005T115411_AOT_10m.jp2",
                                real / "l2a_T22HBD_20210122_R10m_downsampled_100px" / "T22HBD_20210122T133229_B02_10m.jp2",
                                real / "l1c_T19UDP_20170729_aws_layout" / "preview" / "B02.jp2", tile / "absent_B02.jp2"}) {
    SCOPED_TRACE(other.u8string());
    TBandNames mixed = names;
    mixed.Blue = band(other);
    EXPECT_FALSE(CompositeGrid(mixed));
    mixed = names;
    mixed.Red = band(other);
    EXPECT_FALSE(CompositeGrid(mixed));
  }
  const TImageMetadata plain = CompositeMetadata(std::nullopt);
  EXPECT_EQ(plain.Description, "Contains modified Copernicus Sentinel data");
  EXPECT_FALSE(plain.GeoTiff);
  EXPECT_FALSE(plain.GdalNoData);
}
