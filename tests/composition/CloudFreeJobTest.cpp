// The cloud-free picture of generated dates against the same composite made with GDAL and numpy
// (every sample; one date, odd and even numbers of clear dates, none clear), its name, and the
// refusals: another tile, a date without a mask.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "CloudFreeJob.h"
#include "ImageFiles.h"
#include "ImageTestEnvironment.h"
#include "TrueColour.h"

namespace fs = std::filesystem;

namespace {
[[maybe_unused]] auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new imagetest::TImageEnvironment);

class CloudFree : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "the dates are generated and checked with GDAL's Python natively";
#else
    if (std::system("/usr/bin/python3 -c 'from osgeo import gdal; import numpy' 2>/dev/null") != 0)
      GTEST_SKIP() << "no GDAL for Python";
    FWork = fs::temp_directory_path() /
            ("bandweave-cloudfree-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(FWork);
    fs::create_directories(FWork);
#endif
  }
  void TearDown() override {
    std::error_code ignored;
    if (!FWork.empty()) fs::remove_all(FWork, ignored);
  }
  static std::string Script(const char* name) { return std::string(BANDWEAVE_TESTS_CLI) + "/" + name; }
  void MakeDates(const std::string& folder, const std::string& tile, const std::string& dates) {
    const std::string command = "/usr/bin/python3 " + Script("make-dates.py") + " '" + (FWork / folder).string() +
                                "' " + tile + " 300 " + dates;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  // The red band of every date in folder, as the job takes them.
  std::vector<std::wstring> Bands(const std::string& folder) {
    std::vector<std::wstring> bands;
    for (const auto& entry : fs::recursive_directory_iterator(FWork / folder))
      if (entry.path().filename().string().find("_B04_60m.jp2") != std::string::npos)
        bands.push_back(imagetest::Wide(entry.path()));
    std::sort(bands.begin(), bands.end());
    return bands;
  }
  // GDAL and numpy's picture against ours: what the reference prints.
  std::string Reference(const std::wstring& output, const std::string& classes, const std::string& folder) {
    std::string products;
    for (const auto& entry : fs::directory_iterator(FWork / folder)) products += " '" + entry.path().string() + "'";
    const std::string command = "/usr/bin/python3 " + Script("cloudfree-reference.py") + " '" + ToUtf8(output) +
                                "' " + classes + products;
    std::string printed;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[256];
      while (std::fgets(buffer, sizeof buffer, pipe)) printed += buffer;
      pclose(pipe);
    }
    return printed;
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

  fs::path FWork;
};
}  // namespace

TEST_F(CloudFree, EverySampleIsNumpysMedianOfTheClearDates) {
  MakeDates("four", "T29UNU", "20220905 20221005 20220915 20221015");
  MakeDates("one", "T29UNU", "20220905");
  for (const auto& [folder, classes, count] :
       {std::tuple<std::string, std::string, int>{"four", "0,1,3,8,9,10", 4}, {"four", "3,8,9,10,11", 4}, {"one", "0,1,3,8,9,10", 1}}) {
    TCloudFreeRequest request;
    request.Bands = Bands(folder);
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
    const std::string printed = Reference(result.Output, classes, folder);
    std::printf("%s, classes %s: %s", folder.c_str(), classes.c_str(), printed.c_str());
    EXPECT_NE(printed.find("differing samples: 0\n"), std::string::npos) << printed;
    if (request.Quicklook) ExpectQuicklookOf(result);
    if (count == 4) {
      // Every number of clear dates, none to all, occurred: odd and even medians both checked.
      for (int k = 0; k <= 4; ++k)
        EXPECT_EQ(printed.find(" " + std::to_string(k) + ":0 "), std::string::npos) << k << " clear: " << printed;
    }
    fs::remove(ToUtf8(result.Output));
  }
}

TEST_F(CloudFree, AnotherTileOrAMissingMaskIsRefusedByName) {
  MakeDates("mixed", "T29UNU", "20220905 20221005");
  MakeDates("mixed", "T30UUU", "20220915");
  TCloudFreeRequest request;
  request.Bands = Bands("mixed");
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
