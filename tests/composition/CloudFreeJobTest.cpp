// The cloud-free picture of generated dates against the same composite made with GDAL and numpy
// (every sample; one date, odd and even numbers of clear dates, none clear), its name, and the
// refusals: another tile, a date without a mask. The dates and numpy's pictures are made
// natively beforehand (make-references.py), so the Windows build checks against them too.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "CloudFreeJob.h"
#include "CloudReferences.h"
#include "ImageFiles.h"
#include "ImageTestEnvironment.h"
#include "TempFolder.h"
#include "TrueColour.h"

namespace fs = std::filesystem;

namespace {
[[maybe_unused]] auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new imagetest::TImageEnvironment);

class CloudFree : public ::testing::Test {
 protected:
  void SetUp() override {
    FDates = cloudrefs::Folder() / "cloudfree";
    ASSERT_TRUE(fs::exists(FDates / "four")) << "no generated dates in " << FDates.string();
    FWork = testenv::FreshPrivateFolder("bandweave-cloudfree-" +
                                        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-");
  }
  void TearDown() override {
    std::error_code ignored;
    if (!FWork.empty()) fs::remove_all(FWork, ignored);
  }
  // The red band of every date in folder, as the job takes them.
  static std::vector<std::wstring> Bands(const fs::path& folder) {
    std::vector<std::wstring> bands;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.path().filename().string().find("_B04_60m.jp2") != std::string::npos)
        bands.push_back(imagetest::Wide(entry.path()));
    std::sort(bands.begin(), bands.end());
    return bands;
  }
  // How many of output's samples differ from GDAL and numpy's picture of folder with classes.
  size_t Differing(const std::wstring& output, const std::string& folder, std::string classes) {
    std::replace(classes.begin(), classes.end(), ',', '-');
    const std::vector<uint16_t> expected = cloudrefs::Read<uint16_t>(FDates / (folder + "-" + classes + ".u16"));
    TBitmap picture = LoadImageFile(FIF_TIFF, output);
    EXPECT_TRUE(picture);
    if (!picture) return SIZE_MAX;
    const unsigned w = FreeImage_GetWidth(picture.get()), h = FreeImage_GetHeight(picture.get());
    EXPECT_EQ(expected.size(), size_t{w} * h * 3);
    if (expected.size() != size_t{w} * h * 3) return SIZE_MAX;
    size_t differ = 0;
    for (unsigned y = 0; y < h; ++y) {
      const auto* row = reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(picture.get(), int(h - 1 - y)));
      for (unsigned k = 0; k < 3 * w; ++k) differ += row[k] != expected[(size_t{y} * w) * 3 + k];
    }
    return differ;
  }
  // How many pixels numpy found with 0, 1, ... clear dates.
  std::vector<size_t> ClearCounts(const std::string& folder, std::string classes) {
    std::replace(classes.begin(), classes.end(), ',', '-');
    std::ifstream in(FDates / (folder + "-" + classes + ".counts"));
    std::vector<size_t> counts;
    for (size_t n; in >> n;) counts.push_back(n);
    return counts;
  }
  // Each quicklook pixel: the mean of the valid pixels of its 8 x 8 block of the picture,
  // mapped with offset 0 (the generated products list none); 0, 0, 0 and transparent without.
  static void ExpectQuicklookOf(const TCloudFreeResult& result) {
    ASSERT_FALSE(result.Quicklook.empty()) << ToUtf8(result.QuicklookError);
    EXPECT_EQ(result.Quicklook.substr(result.Quicklook.size() - 17), L"_cloudfree_ql.png");
    TBitmap picture = LoadImageFile(FIF_TIFF, result.Output), quicklook = LoadImageFile(FIF_PNG, result.Quicklook);
    ASSERT_TRUE(picture && quicklook);
    ASSERT_EQ(FreeImage_GetWidth(quicklook.get()), 38u);
    ASSERT_EQ(FreeImage_GetBPP(quicklook.get()), 32u);
    for (unsigned by = 0; by < 38; ++by) {
      for (unsigned bx = 0; bx < 38; ++bx) {
        uint64_t sum[3] = {0, 0, 0}, count = 0;
        for (unsigned y = 8 * by; y < std::min(300u, 8 * by + 8); ++y) {
          const auto* row = reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(picture.get(), int(299 - y)));
          for (unsigned x = 8 * bx; x < std::min(300u, 8 * bx + 8); ++x) {
            if (!row[3 * x] || !row[3 * x + 1] || !row[3 * x + 2]) continue;
            for (int c = 0; c < 3; ++c) sum[c] += row[3 * x + c];
            ++count;
          }
        }
        const BYTE* q = FreeImage_GetScanLine(quicklook.get(), int(37 - by)) + 4 * bx;
        const int byteOf[3] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE};
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(q[byteOf[c]], count ? TrueColourByte(uint16_t((sum[c] + count / 2) / count), 0) : 0) << bx << "," << by;
        ASSERT_EQ(q[FI_RGBA_ALPHA], count ? 255 : 0);
      }
    }
  }

  fs::path FDates, FWork;
};
}  // namespace

TEST_F(CloudFree, EverySampleIsNumpysMedianOfTheClearDates) {
  for (const auto& [folder, classes, count] :
       {std::tuple<std::string, std::string, int>{"four", "0,1,3,8,9,10", 4}, {"four", "3,8,9,10,11", 4}, {"one", "0,1,3,8,9,10", 1}}) {
    TCloudFreeRequest request;
    request.Bands = Bands(FDates / folder);
    ASSERT_EQ(request.Bands.size(), size_t(count));
    std::string error;
    request.Classes = *ParseMaskClasses(classes, error);
    request.OutFolder = imagetest::Wide(FWork) + L"/";
    request.Quicklook = count == 4;
    request.Reduce = 3;  // 38 x 38 blocks of 8 x 8, the last ones partly outside
    const TCloudFreeResult result = RunCloudFree(request, {});
    ASSERT_TRUE(result.Written) << ToUtf8(result.Error);
    EXPECT_EQ(result.Output, request.OutFolder + (count == 4 ? L"T29UNU_20220905_20221015_48_60m_cloudfree.tif"
                                                              : L"T29UNU_20220905_20220905_48_60m_cloudfree.tif"));
    EXPECT_EQ(result.Pixels, 300u * 300u);
    EXPECT_GT(result.EmptyPixels, 0u);
    EXPECT_EQ(Differing(result.Output, folder, classes), 0u) << folder << ", classes " << classes;
    if (request.Quicklook) ExpectQuicklookOf(result);
    // Every number of clear dates, none to all, occurred: odd and even medians both checked.
    const std::vector<size_t> clear = ClearCounts(folder, classes);
    ASSERT_EQ(clear.size(), size_t(count) + 1);
    for (int k = 0; k <= count; ++k) EXPECT_GT(clear[k], 0u) << k << " clear, " << folder << ", classes " << classes;
    fs::remove(fs::path(result.Output));
  }
}

TEST_F(CloudFree, AnotherTileOrAMissingMaskIsRefusedByName) {
  // A copy, since a mask is removed from it below.
  fs::copy(FDates / "mixed", FWork / "mixed", fs::copy_options::recursive);
  TCloudFreeRequest request;
  request.Bands = Bands(FWork / "mixed");
  request.OutFolder = imagetest::Wide(FWork) + L"/";
  TCloudFreeResult result = RunCloudFree(request, {});
  EXPECT_FALSE(result.Written);
  EXPECT_EQ(result.Error,
            L"cannot make one cloud-free picture of T30UUU_20220915T115411_B04_60m.jp2 and "
            L"T29UNU_20220905T115411_B04_60m.jp2: another tile");

  request.Bands.erase(request.Bands.begin() + 1);  // the other tile
  for (const auto& entry : fs::recursive_directory_iterator(FWork / "mixed"))
    if (entry.path().filename() == "T29UNU_20221005T115411_SCL_20m.jp2") fs::remove(entry.path());
  result = RunCloudFree(request, {});
  EXPECT_FALSE(result.Written);
  EXPECT_NE(result.Error.find(L"no cloud mask for T29UNU_20221005T115411_B04_60m.jp2"), std::wstring::npos)
      << ToUtf8(result.Error);
  for (const auto& entry : fs::directory_iterator(FWork)) EXPECT_NE(entry.path().extension(), ".tif");
}

TEST_F(CloudFree, AnAreaTakesTheWholePicturesWindowAndATileItMissesWritesNothing) {
  TCloudFreeRequest request;
  request.Bands = Bands(FDates / "four");
  request.OutFolder = imagetest::Wide(FWork) + L"/";
  const TCloudFreeResult whole = RunCloudFree(request, {});
  ASSERT_TRUE(whole.Written) << ToUtf8(whole.Error);
  TBitmap full = LoadImageFile(FIF_TIFF, whole.Output);

  // A window across row and column boundaries of the 128-pixel code-stream tiles, and beyond
  // the tile's east edge.
  TAreaOfInterest area;
  area.Kind = TAreaKind::ProjectedBox;
  area.Projected = {499980 + 100 * 60 + 7, 5900040 - 290 * 60, 499980 + 400 * 60, 5900040 - 120 * 60 - 30};
  request.Area = &area;
  const TCloudFreeResult cropped = RunCloudFree(request, {});
  ASSERT_TRUE(cropped.Written) << ToUtf8(cropped.Error);
  EXPECT_EQ(cropped.Output, request.OutFolder + L"T29UNU_20220905_20221015_48_60m_cloudfree_x100y120w200h170.tif");
  ASSERT_TRUE(cropped.Grid);
  EXPECT_EQ(cropped.Grid->Left, 499980 + 100 * 60);
  EXPECT_EQ(cropped.Grid->Top, 5900040 - 120 * 60);
  TBitmap crop = LoadImageFile(FIF_TIFF, cropped.Output);
  ASSERT_TRUE(full && crop);
  ASSERT_EQ(FreeImage_GetWidth(crop.get()), 200u);
  ASSERT_EQ(FreeImage_GetHeight(crop.get()), 170u);
  for (unsigned y = 0; y < 170; ++y) {
    const auto* c = reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(crop.get(), 169 - y));
    const auto* f = reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(full.get(), 299 - 120 - y)) + 100 * 3;
    for (unsigned x = 0; x < 200 * 3; ++x) ASSERT_EQ(c[x], f[x]) << x / 3 << "," << y;
  }

  area.Projected = {300000, 5800000, 310000, 5810000};
  const TCloudFreeResult outside = RunCloudFree(request, {});
  EXPECT_FALSE(outside.Written);
  EXPECT_TRUE(outside.Outside);
  EXPECT_EQ(outside.Error, L"The area of interest does not overlap tile T29UNU");
}
