// Composite jobs cropped to an area of interest on the real L2A scene (1830 x 1830 bands in
// 192 x 192 tiles, which do not divide them), streamed and the whole-band way: the crop holds
// the full composite's samples over its window, blanked outside the polygons and under the
// cloud mask as the full masked composite is, at any reduction; an area that misses the tile
// writes nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "AreaCrop.h"
#include "CompositeJob.h"
#include "CompositeMask.h"
#include "CompositeWay.h"
#include "ImageFiles.h"
#include "ImageTestEnvironment.h"
#include "Jp2GeoBoxes.h"
#include "PolygonMask.h"
#include "Quicklook.h"
#include "TempFolder.h"
#include "TextCodec.h"
#include "RecordingHost.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {
[[maybe_unused]] auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new imagetest::TImageEnvironment);

const std::string kStem = "T29UNU_20221005T115411_";

class TAreaHost : public RecordingHost {
 public:
  const TMaskClasses* GetMaskClasses() override { return Classes ? &*Classes : nullptr; }
  std::optional<TMaskClasses> Classes;
};

const uint16_t* Row(FIBITMAP* image, unsigned y) {
  return reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(image, static_cast<int>(FreeImage_GetHeight(image) - 1 - y)));
}

class AreaJob : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    FScene = testenv::RealData() / "l2a_T29UNU_20221005_unmodified";
    if (testenv::RealData().empty() || !fs::exists(FScene / (kStem + "B04_60m.jp2")))
      GTEST_SKIP() << "no real Sentinel-2 data";
    FWork = testenv::FreshPrivateFolder("bandweave-areajob-" + std::to_string(GetParam()) + "-");
    compositionTesting::SetStreaming(GetParam());
  }
  void TearDown() override {
    compositionTesting::SetStreaming(true);
    std::error_code ignored;
    if (!FWork.empty()) fs::remove_all(FWork, ignored);
  }
  std::wstring Out() const { return imagetest::Wide(FWork) + L"/"; }
  std::wstring Red() const { return imagetest::Wide(FScene / (kStem + "B04_60m.jp2")); }

  // The full composite, made once per test with the same options but the area.
  TBitmap Full(TAreaHost& host, TJobOptions options, const std::string& name) {
    options.Area = nullptr;
    EXPECT_EQ(RunCompositeJob(host, Red(), Out(), options), TJobOutcome::Saved);
    return LoadImageFile(FIF_TIFF, imagetest::Wide(FWork / name));
  }

  fs::path FScene, FWork;
};

TAreaOfInterest Projected(double ulx, double uly, double lrx, double lry) {
  TAreaOfInterest area;
  area.Kind = TAreaKind::ProjectedBox;
  area.Projected = {ulx, lry, lrx, uly};
  return area;
}

// Every sample of the crop against the full composite's window, blanked where blank says.
template <typename Blank>
void ExpectWindowOf(FIBITMAP* crop, FIBITMAP* full, const TPixelWindow& w, Blank blank) {
  ASSERT_TRUE(crop && full);
  ASSERT_EQ(FreeImage_GetWidth(crop), w.Width);
  ASSERT_EQ(FreeImage_GetHeight(crop), w.Height);
  for (unsigned y = 0; y < w.Height; ++y) {
    const uint16_t *c = Row(crop, y), *f = Row(full, w.Row + y) + size_t{w.Col} * 3;
    for (unsigned x = 0; x < w.Width * 3; ++x)
      ASSERT_EQ(c[x], blank(x / 3, y) ? 0 : f[x]) << "pixel " << x / 3 << "," << y << " sample " << x % 3;
  }
}
}  // namespace

TEST_P(AreaJob, BoxCropsTheFullCompositeAtEachReductionAndAcrossTheTilesEdge) {
  // Interior and crossing the tile's east and south edges; windows that do not fall on the
  // 192-pixel tiles.
  for (unsigned reduce : {0u, 2u}) {
    TAreaHost host;
    TJobOptions options;
    options.Reduce = reduce;
    const std::string r = reduce ? "_r" + std::to_string(reduce) : "";
    const TBitmap full = Full(host, options, kStem + "48_60m" + r + ".tif");
    for (const TAreaOfInterest& area : {Projected(530000, 5880000, 545000, 5870000),
                                        Projected(600000, 5800000, 620000, 5780000)}) {
      options.Area = &area;
      TAreaHost cropHost;
      ASSERT_EQ(RunCompositeJob(cropHost, Red(), Out(), options), TJobOutcome::Saved);
      const TAreaPlacement placed = PlaceArea(area, DeriveBandNames(Red()), reduce);
      ASSERT_EQ(placed.Kind, TAreaPlacement::Inside);
      const fs::path written = FWork / (kStem + "48_60m" + r + WindowSuffix(placed.Window) + ".tif");
      ASSERT_TRUE(fs::exists(written)) << written;
      const TBitmap crop = LoadImageFile(FIF_TIFF, imagetest::Wide(written));
      ExpectWindowOf(crop.get(), full.get(), placed.Window, [](unsigned, unsigned) { return false; });
    }
  }
}

TEST_P(AreaJob, PolygonsBlankOutsideAndTheCloudMaskFollowsTheWindow) {
  // A triangle with a triangular hole over the scene's west, masked for clouds as well.
  TAreaOfInterest area;
  area.Kind = TAreaKind::Polygons;
  area.Polygons = {TPolygon{{{{-8.5, 53.0}, {-8.3, 53.0}, {-8.4, 53.12}, {-8.5, 53.0}},
                             {{-8.45, 53.02}, {-8.38, 53.02}, {-8.42, 53.06}, {-8.45, 53.02}}}}};
  area.LonLat = {-8.5, 53.0, -8.3, 53.12};
  std::string error;
  TAreaHost host;
  host.Classes = *ParseMaskClasses("8,9,10", error);
  TJobOptions options;
  const TBitmap full = Full(host, options, kStem + "48_60m_masked.tif");

  options.Area = &area;
  TAreaHost cropHost;
  cropHost.Classes = host.Classes;
  ASSERT_EQ(RunCompositeJob(cropHost, Red(), Out(), options), TJobOutcome::Saved);
  const TAreaPlacement placed = PlaceArea(area, DeriveBandNames(Red()), 0);
  ASSERT_EQ(placed.Kind, TAreaPlacement::Inside);
  EXPECT_EQ(placed.Window, (TPixelWindow{558, 236, 226, 225}));
  const TBitmap crop =
      LoadImageFile(FIF_TIFF, imagetest::Wide(FWork / (kStem + "48_60m_masked_x558y236w226h225.tif")));
  // The polygon mask itself is checked against gdal_rasterize elsewhere.
  const TPolygonMask mask(area.Polygons, placed.Grid, placed.Window);
  std::vector<uint8_t> inside(placed.Window.Width);
  unsigned outside = 0;
  ExpectWindowOf(crop.get(), full.get(), placed.Window, [&](unsigned x, unsigned y) {
    mask.Row(y, inside.data());
    outside += !inside[x];
    return !inside[x];
  });
  EXPECT_GT(outside, placed.Window.Width * placed.Window.Height / 4);
}

TEST_P(AreaJob, AnAreaBesideTheTileWritesNothingAndSaysSo) {
  const TAreaOfInterest area = Projected(330000, 5900000, 345000, 5890000);
  TJobOptions options;
  options.Area = &area;
  TAreaHost host;
  EXPECT_EQ(RunCompositeJob(host, Red(), Out(), options), TJobOutcome::OutsideArea);
  const std::wstring why = L"The area of interest does not overlap tile T29UNU";
  EXPECT_EQ(host.Visible(), (std::vector<std::wstring>{L"busy", L"status: " + why, L"repaint", L"beep", L"box: " + why,
                                                        L"restore"}));
  EXPECT_TRUE(fs::is_empty(FWork));
}

INSTANTIATE_TEST_SUITE_P(Ways, AreaJob, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Streaming" : "WholeBands"; });

// A quicklook of a window, streamed from tiled bands (the real 60 m scene at 1/2) or cut from
// whole decoded single-tile bands (the real T22HBD set): the full quicklook's pixels over the
// window, and nothing beyond it.
TEST(AreaQuicklook, TheWindowOfTheFullQuicklookStreamedOrCut) {
  const fs::path real = testenv::RealData();
  if (real.empty() || !fs::exists(real / "l2a_T22HBD_20210122_R10m_downsampled_100px")) GTEST_SKIP() << "no real data";
  const fs::path work = testenv::FreshPrivateFolder("bandweave-areaquicklook-");
  struct TCase {
    fs::path Red;
    unsigned Reduce;
    TAreaOfInterest Area;
  };
  const TCase cases[] = {
      {real / "l2a_T29UNU_20221005_unmodified" / (kStem + "B04_60m.jp2"), 1, Projected(530000, 5880000, 575000, 5830000)},
      {real / "l2a_T22HBD_20210122_R10m_downsampled_100px" / "T22HBD_20210122T133229_B04_10m.jp2", 0,
       Projected(199980 + 20 * 1098 + 500, 5900020 - 30 * 1098, 199980 + 61 * 1098, 5900020 - 75 * 1098 - 3)}};
  for (const TCase& c : cases) {
    const TBandNames names = DeriveBandNames(imagetest::Wide(c.Red));
    const std::wstring full = imagetest::Wide(work / "full_ql.png"), crop = imagetest::Wide(work / "crop_ql.png");
    ASSERT_TRUE(WriteQuicklook(names, full, c.Reduce).Written);
    const TQuicklookResult cropped = WriteQuicklook(names, crop, c.Reduce, {}, nullptr, &c.Area);
    ASSERT_TRUE(cropped.Written) << ToUtf8(cropped.Error);
    ASSERT_TRUE(cropped.Window);
    const TPixelWindow w = *cropped.Window;
    EXPECT_EQ(w, PlaceArea(c.Area, names, c.Reduce).Window);
    TBitmap a = LoadImageFile(FIF_PNG, full), b = LoadImageFile(FIF_PNG, crop);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(FreeImage_GetWidth(b.get()), w.Width);
    ASSERT_EQ(FreeImage_GetHeight(b.get()), w.Height);
    const unsigned bytes = FreeImage_GetBPP(a.get()) / 8, fullHeight = FreeImage_GetHeight(a.get());
    ASSERT_EQ(FreeImage_GetBPP(b.get()), FreeImage_GetBPP(a.get()));
    for (unsigned y = 0; y < w.Height; ++y) {
      const BYTE* p = FreeImage_GetScanLine(b.get(), static_cast<int>(w.Height - 1 - y));
      const BYTE* q = FreeImage_GetScanLine(a.get(), static_cast<int>(fullHeight - 1 - w.Row - y)) + size_t{w.Col} * bytes;
      ASSERT_EQ(std::memcmp(p, q, size_t{w.Width} * bytes), 0) << "row " << y << " of " << c.Red.filename();
    }
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
}
