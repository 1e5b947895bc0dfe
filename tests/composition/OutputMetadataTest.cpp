// What the job hands the writers besides the samples: the bands' common grid as GeoTIFF tags
// with GDAL's nodata value, and the attribution; on the real bands, and through whole jobs on
// bands GDAL georeferenced at test time. (The writers' own tests read the tags back through
// libtiff; the console tool's test reads the job's output through GDAL.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CompositeJob.h"
#include "ImageFiles.h"
#include "ImageTestEnvironment.h"
#include "Jp2Encode.h"
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

namespace {
// A GML box as ESA writes it: 60 m grid points in UTM 29N, the first one's outer corner at
// 499980, 5900040.
std::string GmlBox(uint32_t width, uint32_t height) {
  const std::string xml =
      "<?xml version='1.0'?><gml:FeatureCollection xmlns:gml=\"http://www.opengis.net/gml\"><gml:featureMember>"
      "<gml:RectifiedGridCoverage><gml:rectifiedGridDomain><gml:RectifiedGrid dimension=\"2\"><gml:limits>"
      "<gml:GridEnvelope><gml:low>1 1</gml:low><gml:high>" +
      std::to_string(width) + " " + std::to_string(height) +
      "</gml:high></gml:GridEnvelope></gml:limits><gml:origin><gml:Point gml:id=\"P1\" "
      "srsName=\"urn:ogc:def:crs:EPSG::32629\"><gml:pos>500010 5900010</gml:pos></gml:Point></gml:origin>"
      "<gml:offsetVector>60 0</gml:offsetVector><gml:offsetVector>0 -60</gml:offsetVector></gml:RectifiedGrid>"
      "</gml:rectifiedGridDomain></gml:RectifiedGridCoverage></gml:featureMember></gml:FeatureCollection>";
  using jp2encode::Box;
  return Box("asoc", Box("lbl ", "gml.data") + Box("asoc", Box("lbl ", "gml.root-instance") + Box("xml ", xml)));
}

// Puts box in front of the codestream box of a JP2 file, where ESA keeps its GML.
bool InsertBeforeCodestream(const fs::path& file, const std::string& box) {
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  for (size_t at = 0; at + 8 <= bytes.size();) {
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length = length << 8 | static_cast<uint8_t>(bytes[at + i]);
    if (bytes.compare(at + 4, 4, "jp2c") == 0) {
      bytes.insert(at, box);
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
    }
    if (length < 8) return false;
    at += length;
  }
  return false;
}
}  // namespace

// A band sampled every n-th grid point loads n times smaller: its pixels are n times larger
// where the picture starts at the grid's origin and n divides its size, and it is not placed
// at all where that cannot be said exactly.
TEST(OutputMetadata, ASubsampledBandIsPlacedAtTheSizeItLoads) {
  struct TCase {
    const char* name;
    uint32_t x0, stepX, stepY;
    double pixelWidth, pixelHeight;  // 0: no grid
  };
  const TCase cases[] = {
      {"half", 0, 2, 2, 120, 120},
      {"across_only", 0, 2, 1, 120, 60},
      {"a_third_of_40", 0, 3, 3, 0, 0},
      {"off_the_origin", 2, 2, 2, 0, 0},
  };
  const fs::path dir = testenv::FreshPrivateFolder("bandweave-subsampled-");
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    jp2encode::TLayout layout;
    layout.Width = 40;
    layout.Height = 30;
    layout.X0 = c.x0;
    layout.SubsampleX = c.stepX;
    layout.SubsampleY = c.stepY;
    layout.Resolutions = 1;  // components as small as 14 x 10 samples
    const fs::path bands = dir / c.name;
    fs::create_directories(bands);
    for (const char* band : {"GEO_B02.jp2", "GEO_B03.jp2", "GEO_B04.jp2"}) {
      ASSERT_TRUE(jp2encode::Write(bands / band, layout, [](uint32_t, uint32_t x, uint32_t y) { return int32_t(1 + x + y); }));
      ASSERT_TRUE(InsertBeforeCodestream(bands / band, GmlBox(40, 30)));
    }
    const std::optional<TGridGeoreference> grid = CompositeGrid(Names(bands));
    if (c.pixelWidth == 0) {
      EXPECT_FALSE(grid);
      continue;
    }
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->PixelWidth, c.pixelWidth);
    EXPECT_EQ(grid->PixelHeight, c.pixelHeight);
    EXPECT_EQ(grid->Left, 499980);
    EXPECT_EQ(grid->Top, 5900040);
    EXPECT_EQ(grid->Epsg, 32629);
  }

  // The whole job: the TIFF of the half-size bands covers the 2400 m x 1800 m the grid does.
  RecordingHost host;
  host.SaveFormat = 1;
  ASSERT_EQ(RunCompositeJob(host, imagetest::Wide(dir / "half" / "GEO_B03.jp2")), TJobOutcome::Saved);
  {
    TBitmap tiff = LoadImageFile(FIF_TIFF, imagetest::Wide(dir / "half" / "GEO_48.tif"));
    ASSERT_TRUE(tiff);
    EXPECT_EQ(FreeImage_GetWidth(tiff.get()), 20u);
    EXPECT_EQ(FreeImage_GetHeight(tiff.get()), 15u);
    EXPECT_EQ(GeoTag<double>(tiff.get(), "GeoPixelScale"), (std::vector<double>{120, 120, 0}));
    EXPECT_EQ(GeoTag<double>(tiff.get(), "GeoTiePoints"), kTiepoint);
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}
