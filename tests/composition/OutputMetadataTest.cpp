// What the job hands the writers besides the samples: the bands' common grid as GeoTIFF tags
// with GDAL's nodata value, and the attribution; on the real bands, and through whole jobs on
// bands GDAL georeferenced at test time. (The writers' own tests read the tags back through
// libtiff; the console tool's test reads the job's output through GDAL.)
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "CompositeJob.h"
#include "ImageFiles.h"
#include "ImageTestEnvironment.h"
#include "OutputMetadata.h"
#include "RealData.h"
#include "RecordingHost.h"
#include "TempFolder.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {
[[maybe_unused]] auto* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new imagetest::TImageEnvironment);
}  // namespace

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

namespace {
// The bands tests/composition/make-geo-bands.sh made for this run: 40 x 30, 60 m pixels, UTM 29N,
// the first pixel's outer corner at 499980, 5900040.
fs::path GeoBands() { return testenv::FromEnv("BANDWEAVE_GEO_BANDS"); }

const std::vector<double> kScale = {60, 60, 0};
const std::vector<double> kTiepoint = {0, 0, 0, 499980, 5900040, 0};
// Projected, pixel is area, EPSG 32629.
const std::vector<uint16_t> kGeoKeys = {1, 1, 0, 3, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 32629};

template <class T>
std::vector<T> GeoTag(FIBITMAP* image, const char* key) {
  FITAG* tag = nullptr;
  if (!FreeImage_GetMetadata(FIMD_GEOTIFF, image, key, &tag) || !tag) return {};
  const auto* values = static_cast<const T*>(FreeImage_GetTagValue(tag));
  return std::vector<T>(values, values + FreeImage_GetTagCount(tag));
}

TBandNames Names(const fs::path& dir) {
  TBandNames names;
  names.Red = imagetest::Wide(dir / "GEO_B04.jp2");
  names.Green = imagetest::Wide(dir / "GEO_B03.jp2");
  names.Blue = imagetest::Wide(dir / "GEO_B02.jp2");
  return names;
}
}  // namespace

TEST(OutputMetadata, GeneratedBandsGiveTheirGridAsGdalWroteIt) {
  const fs::path bands = GeoBands();
  ASSERT_TRUE(fs::exists(bands / "gml")) << "BANDWEAVE_GEO_BANDS: run through CTest, which makes them";
  for (const char* box : {"gml", "geojp2"}) {
    SCOPED_TRACE(box);
    const std::optional<TGridGeoreference> grid = CompositeGrid(Names(bands / box));
    ASSERT_TRUE(grid);
    const TImageMetadata metadata = CompositeMetadata(grid);
    ASSERT_TRUE(metadata.GeoTiff);
    EXPECT_EQ(std::vector<double>(metadata.GeoTiff->PixelScale, metadata.GeoTiff->PixelScale + 3), kScale);
    EXPECT_EQ(std::vector<double>(metadata.GeoTiff->Tiepoint, metadata.GeoTiff->Tiepoint + 6), kTiepoint);
    EXPECT_EQ(metadata.GeoTiff->GeoKeys, kGeoKeys);
    EXPECT_EQ(metadata.GdalNoData, std::optional<std::string>("0"));
  }
  // A blue band 600 m further east: no common grid.
  TBandNames shifted = Names(bands / "gml");
  shifted.Blue = imagetest::Wide(bands / "elsewhere" / "GEO_B02.jp2");
  EXPECT_FALSE(CompositeGrid(shifted));
}

TEST(OutputMetadata, TheJobsTiffCarriesTheTagsOfGeneratedBands) {
  const fs::path bands = GeoBands();
  ASSERT_TRUE(fs::exists(bands / "gml")) << "BANDWEAVE_GEO_BANDS: run through CTest, which makes them";
  const fs::path dir = testenv::FreshPrivateFolder("bandweave-geotiff-");
  for (const char* band : {"GEO_B02.jp2", "GEO_B03.jp2", "GEO_B04.jp2"}) fs::copy_file(bands / "gml" / band, dir / band);
  RecordingHost host;
  host.SaveFormat = 1;
  ASSERT_EQ(RunCompositeJob(host, imagetest::Wide(dir / "GEO_B03.jp2")), TJobOutcome::Saved);
  {
    const std::wstring output = imagetest::Wide(dir / "GEO_48.tif");
    TBitmap tiff = LoadImageFile(FIF_TIFF, output);
    ASSERT_TRUE(tiff);
    EXPECT_EQ(GeoTag<double>(tiff.get(), "GeoPixelScale"), kScale);
    EXPECT_EQ(GeoTag<double>(tiff.get(), "GeoTiePoints"), kTiepoint);
    EXPECT_EQ(GeoTag<uint16_t>(tiff.get(), "GeoKeyDirectory"), kGeoKeys);
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}
