// The quicklook's 8-bit mapping on generated bands, at the edges of its range: no data, the
// darkest valid samples, where 1 turns into 2, the top of the scale and the largest sample;
// with a product's offset and without one. Runs everywhere, with or without the real files.
// A pixel where any band has no data is 0,0,0.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FreeImageSession.h"
#include "ImageFiles.h"
#include "ImageTestEnvironment.h"
#include "Jp2Encode.h"
#include "Quicklook.h"
#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {
struct TEdge {
  uint16_t Number;  // the band's sample
  uint8_t Byte;     // the quicklook's value for it
};

// With the offset -1000 the samples stand for d = number - 1000; ESA's true-colour image maps
// d > 0 to 1 + floor(d * 254 / 2500), at most 255.
const std::vector<TEdge> kWithOffset = {
    {0, 0},                    // no data stays 0
    {1, 1},     {999, 1},      // d < 0: valid, so 1, never 0
    {1000, 1},  {1001, 1},     // d = 0, 1
    {1005, 1},  {1009, 1},     // d = 5 and 9: below the first step (rounding would give 2)
    {1010, 2},                 // d = 10: the first step
    {3496, 254}, {3499, 254},  // d = 2496, 2499: the last step not yet taken (rounding: 255)
    {3500, 255}, {3501, 255},  // d = 2500, 2501
    {65535, 255},              // the largest sample
};
// Without a product's metadata the offset is 0.
const std::vector<TEdge> kWithoutOffset = {
    {0, 0}, {1, 1}, {5, 1}, {9, 1}, {10, 2}, {2496, 254}, {2499, 254}, {2500, 255}, {2501, 255}, {65535, 255},
};

const char kMetadata[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<n1:Level-2A_User_Product xmlns:n1=\"https://psd-14.sentinel2.eo.esa.int/PSD/User_Product_Level-2A.xsd\">\n"
    "<n1:General_Info><Product_Image_Characteristics><BOA_ADD_OFFSET_VALUES_LIST>\n"
    "<BOA_ADD_OFFSET band_id=\"1\">-1000</BOA_ADD_OFFSET>\n"
    "<BOA_ADD_OFFSET band_id=\"2\">-1000</BOA_ADD_OFFSET>\n"
    "<BOA_ADD_OFFSET band_id=\"3\">-1000</BOA_ADD_OFFSET>\n"
    "</BOA_ADD_OFFSET_VALUES_LIST></Product_Image_Characteristics></n1:General_Info>\n"
    "</n1:Level-2A_User_Product>\n";

class QuicklookMapping : public ::testing::Test {
 protected:
  void SetUp() override { FDir = testenv::FreshPrivateFolder("bandweave-quicklook-"); }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FDir, ignored);
  }

  // The first column is no data: in every band on the first row, in red alone on the second.
  // The other edges fill the rest of each row, all bands alike on the first row and each band
  // shifted along the second, so that a band in another's channel shows.
  TBandNames MakeBands(const fs::path& dir, const std::vector<TEdge>& edges) {
    fs::create_directories(dir);
    TBandNames names;
    names.Started = true;
    const char* codes[3] = {"B04", "B03", "B02"};
    std::wstring* paths[3] = {&names.Red, &names.Green, &names.Blue};
    for (uint32_t c = 0; c < 3; ++c) {
      const fs::path band = dir / (std::string("T00XXX_20240101T000000_") + codes[c] + "_60m.jp2");
      jp2encode::TLayout layout;
      layout.Width = static_cast<uint32_t>(edges.size());
      layout.Height = 2;
      layout.Precision = 16;
      EXPECT_TRUE(jp2encode::Write(band, layout, [&](uint32_t, uint32_t x, uint32_t y) {
        return static_cast<int32_t>(edges[At(c, x, y, layout.Width)].Number);
      }));
      *paths[c] = imagetest::Wide(band);
    }
    return names;
  }
  // Which edge band c holds at pixel (x, y); edge 0 is no data.
  static size_t At(uint32_t c, uint32_t x, uint32_t y, uint32_t width) {
    if (x == 0) return y == 0 || c == 0 ? 0 : c;
    return 1 + (x - 1 + c * 3 * y) % (width - 1);
  }
  void ExpectMapped(const fs::path& dir, const std::vector<TEdge>& edges, const wchar_t* offsetNote) {
    const TBandNames names = MakeBands(dir, edges);
    const fs::path out = dir / "ql.png";
    const TQuicklookResult result = WriteQuicklook(names, imagetest::Wide(out), 0);
    ASSERT_TRUE(result.Written) << ToUtf8(result.Error);
    ASSERT_EQ(result.Notes.size(), 3u);
    for (const std::wstring& note : result.Notes) EXPECT_NE(note.find(offsetNote), std::wstring::npos) << ToUtf8(note);
    TBitmap picture = LoadImageFile(FIF_PNG, imagetest::Wide(out));
    ASSERT_TRUE(picture);
    const auto width = static_cast<uint32_t>(edges.size());
    ASSERT_EQ(FreeImage_GetWidth(picture.get()), width);
    ASSERT_EQ(FreeImage_GetHeight(picture.get()), 2u);
    // The transparent colour 0,0,0 makes FreeImage read the picture with an alpha channel.
    const unsigned step = FreeImage_GetBPP(picture.get()) / 8;
    ASSERT_GE(step, 3u);
    const int byteOf[3] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE};
    for (uint32_t y = 0; y < 2; ++y) {
      const BYTE* line = FreeImage_GetScanLine(picture.get(), static_cast<int>(1 - y));
      for (uint32_t x = 0; x < width; ++x) {
        const BYTE* pixel = line + step * x;
        // No data in any band makes the whole pixel 0,0,0 (and transparent).
        bool noData = false;
        for (uint32_t c = 0; c < 3; ++c) noData = noData || edges[At(c, x, y, width)].Number == 0;
        for (uint32_t c = 0; c < 3; ++c) {
          const TEdge& edge = edges[At(c, x, y, width)];
          EXPECT_EQ(int{pixel[byteOf[c]]}, noData ? 0 : int{edge.Byte})
              << "sample " << edge.Number << ", channel " << c << ", pixel " << x << "," << y;
        }
        if (step == 4) {
          EXPECT_EQ(int{pixel[FI_RGBA_ALPHA]}, noData ? 0 : 255) << "pixel " << x << "," << y;
        }
      }
    }
  }

  FreeImageSession FImages;
  fs::path FDir;
};
}  // namespace

TEST_F(QuicklookMapping, EdgesOfTheScaleWithTheProductsOffset) {
  const fs::path product = FDir / "offset";
  fs::create_directories(product);
  std::ofstream(product / "MTD_MSIL2A.xml", std::ios::binary) << kMetadata;
  ExpectMapped(product / "GRANULE" / "IMG_DATA", kWithOffset, L"offset -1000 for ");
}

TEST_F(QuicklookMapping, EdgesOfTheScaleWithoutMetadata) {
  ExpectMapped(FDir / "plain", kWithoutOffset, L"offset taken as 0");
}
