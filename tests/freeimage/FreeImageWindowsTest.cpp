// The cross-built static FreeImage: the plugin table other builds agree on, lossless 16-bit
// JPEG 2000, PNG and TIFF through the wide-character calls, and a real band file.
#include <windows.h>

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <openjpeg.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "../common/RealData.h"
#include "../common/TestEnv.h"

namespace fs = std::filesystem;

namespace {
struct Unloader {
  void operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }
};
using Bitmap = std::unique_ptr<FIBITMAP, Unloader>;

class FreeImageLibrary : public ::testing::Environment {
 public:
  void SetUp() override { FreeImage_Initialise(FALSE); }
  void TearDown() override { FreeImage_DeInitialise(); }
};
const auto* const kLibrary = ::testing::AddGlobalTestEnvironment(new FreeImageLibrary);

// A grey 16-bit image whose values cover both bytes, the extremes and odd sizes, so that a
// byte-order, row-padding or rounding fault shows up.
Bitmap MakeGrey(unsigned width, unsigned height, uint32_t seed) {
  Bitmap dib(FreeImage_AllocateT(FIT_UINT16, width, height));
  if (!dib) return dib;
  for (unsigned y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(dib.get(), y));
    for (unsigned x = 0; x < width; ++x)
      row[x] = static_cast<uint16_t>((x * 2654435761u + y * 40503u + seed * 977u) >> 7);
  }
  reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(dib.get(), 0))[0] = 0;
  reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(dib.get(), height - 1))[width - 1] = 65535;
  return dib;
}

::testing::AssertionResult SameGrey(FIBITMAP* expected, FIBITMAP* actual) {
  if (!actual) return ::testing::AssertionFailure() << "no image";
  if (FreeImage_GetImageType(actual) != FIT_UINT16)
    return ::testing::AssertionFailure() << "type " << FreeImage_GetImageType(actual);
  const unsigned w = FreeImage_GetWidth(expected), h = FreeImage_GetHeight(expected);
  if (FreeImage_GetWidth(actual) != w || FreeImage_GetHeight(actual) != h)
    return ::testing::AssertionFailure() << "size " << FreeImage_GetWidth(actual) << " x "
                                         << FreeImage_GetHeight(actual);
  for (unsigned y = 0; y < h; ++y) {
    const auto* e = reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(expected, y));
    const auto* a = reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(actual, y));
    for (unsigned x = 0; x < w; ++x)
      if (e[x] != a[x])
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << ") is " << a[x] << ", expected " << e[x];
  }
  return ::testing::AssertionSuccess();
}

// Every file goes into a folder whose name is not representable in the ANSI code page.
class FreeImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           fs::u8path("bandweave-fi-Z\xC3\xBCrich-\xE6\x9D\xB1\xE4\xBA\xAC-" +
                      std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path File(const char* utf8Name) const { return dir_ / fs::u8path(utf8Name); }
  fs::path dir_;
};

TEST(FreeImageWindows, PluginTableMatchesOtherBuilds) {
  EXPECT_EQ(FreeImage_GetFIFCount(), 37);
  EXPECT_EQ(FIF_JP2, 31);
  for (FREE_IMAGE_FORMAT fif : {FIF_JP2, FIF_J2K, FIF_PNG, FIF_TIFF}) {
    EXPECT_TRUE(FreeImage_FIFSupportsReading(fif)) << fif;
    EXPECT_TRUE(FreeImage_FIFSupportsWriting(fif)) << fif;
  }
  // The stand-ins keep their numbers and extensions but never claim a file.
  EXPECT_EQ(FreeImage_GetFIFFromFilenameU(L"a.JPG"), FIF_JPEG);
  EXPECT_EQ(FreeImage_GetFIFFromFilenameU(L"a.exr"), FIF_EXR);
  EXPECT_EQ(FreeImage_GetFIFFromFilenameU(L"a.nef"), FIF_RAW);
  EXPECT_EQ(FreeImage_GetFIFFromFilenameU(L"a.webp"), FIF_WEBP);
  EXPECT_EQ(FreeImage_GetFIFFromFilenameU(L"a.jxr"), FIF_JXR);
  EXPECT_EQ(FreeImage_GetFIFFromFilenameU(L"a.unknown"), FIF_UNKNOWN);
  EXPECT_FALSE(FreeImage_FIFSupportsReading(FIF_JPEG));
  EXPECT_EQ(FreeImage_GetFIFFromFormat("WebP"), FIF_WEBP);
  // OpenJPEG decodes on Win32 threads when OPJ_NUM_THREADS asks for them.
  EXPECT_TRUE(opj_has_thread_support());
}

TEST_F(FreeImageFiles, Jp2KeepsSixteenBitGreyExactly) {
  Bitmap grey = MakeGrey(67, 45, 1);
  ASSERT_TRUE(grey);
  const fs::path file = File("band-\xC3\xA9t\xC3\xA9.jp2");
  ASSERT_TRUE(FreeImage_SaveU(FIF_JP2, grey.get(), file.c_str(), 1));  // rate 1: lossless
  EXPECT_EQ(FreeImage_GetFileTypeU(file.c_str()), FIF_JP2);
  Bitmap back(FreeImage_LoadU(FIF_JP2, file.c_str()));
  EXPECT_TRUE(SameGrey(grey.get(), back.get()));
}

TEST_F(FreeImageFiles, Rgb16KeepsEveryChannelInPngAndTiff) {
  Bitmap red = MakeGrey(53, 31, 2), green = MakeGrey(53, 31, 3), blue = MakeGrey(53, 31, 4);
  ASSERT_TRUE(red && green && blue);
  Bitmap rgb(FreeImage_ConvertToType(red.get(), FIT_RGB16));
  ASSERT_TRUE(rgb);
  for (auto channel : {FICC_RED, FICC_GREEN, FICC_BLUE}) {
    Bitmap c(FreeImage_GetChannel(rgb.get(), channel));
    EXPECT_TRUE(SameGrey(red.get(), c.get())) << "grey spread to channel " << channel;
  }
  ASSERT_TRUE(FreeImage_SetChannel(rgb.get(), green.get(), FICC_GREEN));
  ASSERT_TRUE(FreeImage_SetChannel(rgb.get(), blue.get(), FICC_BLUE));

  const struct {
    FREE_IMAGE_FORMAT fif;
    int flags;
    const char* name;
  } outputs[] = {{FIF_PNG, PNG_Z_BEST_SPEED, "rgb-\xC3\xB8.png"},
                 {FIF_TIFF, TIFF_DEFLATE, "rgb-\xC3\xB8.tif"}};
  for (const auto& out : outputs) {
    SCOPED_TRACE(out.name);
    const fs::path file = File(out.name);
    ASSERT_TRUE(FreeImage_SaveU(out.fif, rgb.get(), file.c_str(), out.flags));
    EXPECT_EQ(FreeImage_GetFileTypeU(file.c_str()), out.fif);
    Bitmap back(FreeImage_LoadU(out.fif, file.c_str()));
    ASSERT_TRUE(back);
    EXPECT_EQ(FreeImage_GetImageType(back.get()), FIT_RGB16);
    EXPECT_EQ(FreeImage_GetBPP(back.get()), 48u);
    Bitmap r(FreeImage_GetChannel(back.get(), FICC_RED));
    Bitmap g(FreeImage_GetChannel(back.get(), FICC_GREEN));
    Bitmap b(FreeImage_GetChannel(back.get(), FICC_BLUE));
    EXPECT_TRUE(SameGrey(red.get(), r.get()));
    EXPECT_TRUE(SameGrey(green.get(), g.get()));
    EXPECT_TRUE(SameGrey(blue.get(), b.get()));
  }
}

// Real ESA files, found by content as the program finds them: the L1C "B04.jp2" is in fact a
// 16-bit GeoTIFF; the preview is a lossless 15-bit JP2; the L2A band is Kakadu-encoded, tiled.
TEST(FreeImageWindows, LoadsRealBandFiles) {
  const fs::path real = testenv::RealData();
  BANDWEAVE_NEED_REAL_DATA(real);
  const struct {
    const char* name;
    FREE_IMAGE_FORMAT fif;
    unsigned size;
    unsigned maxValue;
  } bands[] = {
      {"l1c_T19UDP_20170729_aws_layout/B04.jp2", FIF_TIFF, 122, 65535},
      {"l1c_T19UDP_20170729_aws_layout/preview/B04.jp2", FIF_JP2, 687, 32767},
      {"l2a_T29UNU_20221005_unmodified/T29UNU_20221005T115411_B04_60m.jp2", FIF_JP2, 1830, 32767},
  };
  for (const auto& band : bands) {
    SCOPED_TRACE(band.name);
    const fs::path file = real / fs::u8path(band.name);
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFileTypeU(file.c_str());
    EXPECT_EQ(fif, band.fif);
    Bitmap dib(FreeImage_LoadU(fif, file.c_str()));
    ASSERT_TRUE(dib);
    EXPECT_EQ(FreeImage_GetImageType(dib.get()), FIT_UINT16);
    EXPECT_EQ(FreeImage_GetWidth(dib.get()), band.size);
    EXPECT_EQ(FreeImage_GetHeight(dib.get()), band.size);
    unsigned maxSeen = 0;
    for (unsigned y = 0; y < FreeImage_GetHeight(dib.get()); ++y) {
      const auto* row = reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(dib.get(), y));
      for (unsigned x = 0; x < FreeImage_GetWidth(dib.get()); ++x)
        maxSeen = std::max<unsigned>(maxSeen, row[x]);
    }
    EXPECT_GT(maxSeen, 0u);
    EXPECT_LE(maxSeen, band.maxValue);
  }
}
}  // namespace
