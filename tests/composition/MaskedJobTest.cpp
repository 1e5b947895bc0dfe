// The composite job with a cloud mask on the real L2A scene, streamed and the whole-band way:
// every pixel is the bands' samples where the mask leaves it clear and all three bands have
// data, 0, 0, 0 everywhere else; the output is named "_masked" and the share masked is
// reported. A product without any mask fails the job with the reason, and writes nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "CompositeJob.h"
#include "CompositeWay.h"
#include "CloudMask.h"
#include "ImageFiles.h"
#include "ImageTestEnvironment.h"
#include "Jp2BandDecoder.h"
#include "Jp2GeoBoxes.h"
#include "RecordingHost.h"
#include "TempFolder.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {
[[maybe_unused]] auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new imagetest::TImageEnvironment);

class TMaskRecordingHost : public RecordingHost {
 public:
  const TMaskClasses* GetMaskClasses() override { return &Classes; }
  void NoteMasked(uint64_t masked, uint64_t pixels) override {
    Masked = masked;
    Pixels = pixels;
    Calls.push_back(L"masked");
  }
  TMaskClasses Classes = TMaskClasses::Default();
  uint64_t Masked = 0, Pixels = 0;
};

class MaskedJob : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    FScene = testenv::RealData() / "l2a_T29UNU_20221005_unmodified";
    if (testenv::RealData().empty() || !fs::exists(FScene / "MSK_CLASSI_B00.jp2")) GTEST_SKIP() << "no real Sentinel-2 data";
    FWork = testenv::FreshPrivateFolder("bandweave-maskedjob-" + std::to_string(GetParam()) + "-");
    compositionTesting::SetStreaming(GetParam());
  }
  void TearDown() override {
    compositionTesting::SetStreaming(true);
    std::error_code ignored;
    if (!FWork.empty()) fs::remove_all(FWork, ignored);
  }
  fs::path FScene, FWork;
};

const uint16_t* Row(FIBITMAP* image, unsigned y) {
  return reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(image, static_cast<int>(FreeImage_GetHeight(image) - 1 - y)));
}
}  // namespace

TEST_P(MaskedJob, EveryPixelMaskedOrTheBands) {
  const std::string stem = "T29UNU_20221005T115411_";
  TMaskRecordingHost host;
  // Clouds and cirrus only: the scene's no-data pixels then go by the no-data rule alone.
  std::string error;
  host.Classes = *ParseMaskClasses("8,9,10", error);
  const std::wstring out = imagetest::Wide(FWork) + L"/";
  ASSERT_EQ(RunCompositeJob(host, imagetest::Wide(FScene / (stem + "B03_60m.jp2")), out), TJobOutcome::Saved);
  const fs::path written = FWork / (stem + "48_60m_masked.tif");
  ASSERT_TRUE(fs::exists(written));
  EXPECT_EQ(host.Count(L"masked"), 1);

  TBitmap ours = LoadImageFile(FIF_TIFF, imagetest::Wide(written));
  TBitmap red = LoadImageFile(FIF_JP2, imagetest::Wide(FScene / (stem + "B04_60m.jp2")));
  TBitmap green = LoadImageFile(FIF_JP2, imagetest::Wide(FScene / (stem + "B03_60m.jp2")));
  TBitmap blue = LoadImageFile(FIF_JP2, imagetest::Wide(FScene / (stem + "B02_60m.jp2")));
  ASSERT_TRUE(ours && red && green && blue);
  // The mask as placed on the 60 m grid (checked against GDAL on every pixel elsewhere).
  const TMaskSource source = FindMaskSource(FScene / (stem + "B04_60m.jp2"));
  TCloudMask mask;
  ASSERT_TRUE(mask.Load(source, host.Classes, {}, error)) << error;
  TPlacedGrid grid;
  grid.Georeference = *ReadJp2Grid(FScene / (stem + "B04_60m.jp2")).Georeference;
  grid.Width = grid.Height = 1830;
  std::vector<uint8_t> masked(size_t{1830} * 1830);
  mask.Rows(grid, 0, 1830, masked.data());

  uint64_t maskedCount = 0, partly = 0;
  for (unsigned y = 0; y < 1830; ++y) {
    const uint16_t *o = Row(ours.get(), y), *r = Row(red.get(), y), *g = Row(green.get(), y), *b = Row(blue.get(), y);
    for (unsigned x = 0; x < 1830; ++x) {
      const bool hidden = masked[size_t{y} * 1830 + x];
      maskedCount += hidden;
      const bool noData = !r[x] || !g[x] || !b[x];
      partly += !hidden && noData;
      const bool black = hidden || noData;
      ASSERT_EQ(o[3 * x], black ? 0 : r[x]) << x << "," << y;
      ASSERT_EQ(o[3 * x + 1], black ? 0 : g[x]) << x << "," << y;
      ASSERT_EQ(o[3 * x + 2], black ? 0 : b[x]) << x << "," << y;
    }
  }
  EXPECT_EQ(host.Masked, maskedCount);
  EXPECT_EQ(host.Pixels, uint64_t{1830} * 1830);
  EXPECT_GT(partly, 1830u * 1830u / 4);
  std::printf("masked %.2f %% of the 60 m scene; %llu more pixels lack a band\n", 100.0 * maskedCount / (1830.0 * 1830),
              static_cast<unsigned long long>(partly));
}

TEST_P(MaskedJob, NoMaskFailsWithTheReasonAndWritesNothing) {
  // The bands alone, without the classification or the cloud mask beside them.
  for (const char* band : {"B02", "B03", "B04"}) {
    const fs::path copy = FWork / ("T29UNU_20221005T115411_" + std::string(band) + "_60m.jp2");
    fs::copy_file(FScene / ("T29UNU_20221005T115411_" + std::string(band) + "_60m.jp2"), copy);
    // A read-only copy could not be removed on Windows.
    fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
  }
  TMaskRecordingHost host;
  EXPECT_EQ(RunCompositeJob(host, imagetest::Wide(FWork / "T29UNU_20221005T115411_B04_60m.jp2")), TJobOutcome::Failed);
  const std::wstring why =
      L"no cloud mask for T29UNU_20221005T115411_B04_60m.jp2: neither a scene classification "
      L"(T29UNU_20221005T115411_SCL_20m.jp2 or _SCL_60m.jp2) nor MSK_CLASSI_B00.jp2 in its folder";
  EXPECT_EQ(host.Visible(), (std::vector<std::wstring>{L"busy", L"status: " + why, L"repaint", L"beep", L"box: " + why,
                                                        L"restore"}));
  for (const auto& entry : fs::directory_iterator(FWork)) EXPECT_EQ(entry.path().extension(), ".jp2");
}

INSTANTIATE_TEST_SUITE_P(Ways, MaskedJob, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Streaming" : "WholeBands"; });
