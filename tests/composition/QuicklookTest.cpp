// The quicklook against ESA's own true-colour image of the same product, the offsets of a
// recent and an old product, and where the metadata file is looked for.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "FreeImageSession.h"
#include "ImageFiles.h"
#include "Jp2Encode.h"
#include "OutputMetadata.h"
#include "Quicklook.h"
#include "RealData.h"
#include "TempFile.h"
#include "TempFileTesting.h"
#include "TempFolder.h"
#include "TestEnv.h"
#include "BandOffset.h"
#include "TrueColour.h"
#include "MaskClasses.h"

namespace fs = std::filesystem;

namespace {
class Quicklook : public ::testing::Test {
 protected:
  void SetUp() override {
    FReal = testenv::RealData();
    BANDWEAVE_NEED_REAL_DATA(FReal);
    FWork = testenv::FreshPrivateFolder("bandweave-quicklook-");
  }
  void TearDown() override {
    std::error_code ignored;
    if (!FWork.empty()) fs::remove_all(FWork, ignored);
  }
  static TBandNames Bands(const fs::path& dir, const std::string& stem, const std::string& suffix) {
    TBandNames n;
    n.Started = true;
    n.Red = (dir / (stem + "B04" + suffix)).wstring();
    n.Green = (dir / (stem + "B03" + suffix)).wstring();
    n.Blue = (dir / (stem + "B02" + suffix)).wstring();
    return n;
  }
  static TBitmap Load(FREE_IMAGE_FORMAT format, const fs::path& p) { return LoadImageFile(format, p.wstring()); }
  static const BYTE* Pixel(FIBITMAP* b, unsigned x, unsigned y) {
    return FreeImage_GetScanLine(b, static_cast<int>(FreeImage_GetHeight(b) - 1 - y)) + FreeImage_GetBPP(b) / 8 * x;
  }
  static const uint16_t* Row16(FIBITMAP* b, unsigned y) {
    return reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(b, static_cast<int>(FreeImage_GetHeight(b) - 1 - y)));
  }

  FreeImageSession FImages;
  fs::path FReal, FWork;
};
}  // namespace

TEST_F(Quicklook, MatchesEsasTrueColourImageAndKeepsNoDataApart) {
  const fs::path dir = FReal / "l2a_T29UNU_20221005_unmodified";
  const fs::path out = FWork / "ql.png";
  const TQuicklookResult r = WriteQuicklook(Bands(dir, "T29UNU_20221005T115411_", "_60m.jp2"), out.wstring(), 0);
  ASSERT_TRUE(r.Written) << std::string(r.Error.begin(), r.Error.end());
  ASSERT_EQ(r.Notes.size(), 3u);
  for (const std::wstring& note : r.Notes) EXPECT_EQ(note.find(L"offset -1000 for "), 0u);

  TBitmap ours = Load(FIF_PNG, out);
  TBitmap esa = Load(FIF_JP2, dir / "T29UNU_20221005T115411_TCI_60m.jp2");
  TBitmap red = Load(FIF_JP2, dir / "T29UNU_20221005T115411_B04_60m.jp2");
  TBitmap green = Load(FIF_JP2, dir / "T29UNU_20221005T115411_B03_60m.jp2");
  TBitmap blue = Load(FIF_JP2, dir / "T29UNU_20221005T115411_B02_60m.jp2");
  ASSERT_TRUE(ours && esa && red && green && blue);
  // The tRNS chunk for 0,0,0: FreeImage reads such an RGB PNG with an alpha channel.
  ASSERT_EQ(FreeImage_GetBPP(ours.get()), 32u);
  const unsigned w = FreeImage_GetWidth(esa.get()), h = FreeImage_GetHeight(esa.get());
  ASSERT_EQ(FreeImage_GetWidth(ours.get()), w);
  ASSERT_EQ(FreeImage_GetHeight(ours.get()), h);

  size_t valid = 0, within1 = 0, exact = 0, partlyNoData = 0;
  for (unsigned y = 0; y < h; ++y) {
    const uint16_t* r16 = Row16(red.get(), y);
    const uint16_t* g16 = Row16(green.get(), y);
    const uint16_t* b16 = Row16(blue.get(), y);
    for (unsigned x = 0; x < w; ++x) {
      const BYTE* o = Pixel(ours.get(), x, y);
      const BYTE* e = Pixel(esa.get(), x, y);
      const bool anyNoData = r16[x] == 0 || g16[x] == 0 || b16[x] == 0;
      // A pixel any band of which has no data is 0,0,0 and transparent, as in ESA's TCI;
      // every other pixel is opaque and never 0,0,0.
      const bool black = o[FI_RGBA_RED] == 0 && o[FI_RGBA_GREEN] == 0 && o[FI_RGBA_BLUE] == 0;
      ASSERT_EQ(anyNoData, black) << x << "," << y;
      ASSERT_EQ(o[FI_RGBA_ALPHA], anyNoData ? 0 : 255) << x << "," << y;
      if (anyNoData) {
        if (r16[x] || g16[x] || b16[x]) {
          ++partlyNoData;
          EXPECT_EQ(e[FI_RGBA_RED] + e[FI_RGBA_GREEN] + e[FI_RGBA_BLUE], 0) << x << "," << y;
        }
        continue;
      }
      ++valid;
      bool near = true, same = true;
      for (int c : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE}) {
        near = near && std::abs(int(o[c]) - int(e[c])) <= 1;
        same = same && o[c] == e[c];
      }
      within1 += near;
      exact += same;
    }
  }
  // This scene has two pixels with blue 0 and red and green not.
  EXPECT_EQ(partlyNoData, 2u);
  std::printf("quicklook vs ESA TCI: %zu valid pixels, %.4f%% within 1, %.4f%% exact\n", valid,
              100.0 * within1 / valid, 100.0 * exact / valid);
  EXPECT_GT(valid, w * h / 2);
  EXPECT_GE(within1, valid * 99 / 100);
  // The mapping floors as ESA's does: rounding instead would leave only about half exact.
  EXPECT_GE(exact, valid * 97 / 100);

  FITAG* tag = nullptr;
  ASSERT_TRUE(FreeImage_GetMetadata(FIMD_COMMENTS, ours.get(), "Description", &tag));
  EXPECT_STREQ(static_cast<const char*>(FreeImage_GetTagValue(tag)), kAttribution);
}

TEST_F(Quicklook, OldBaselineHasNoOffset) {
  const fs::path dir = FReal / "l2a_T22HBD_20210122_R10m_downsampled_100px";
  const fs::path out = FWork / "old.png";
  const TBandNames bands = Bands(dir, "T22HBD_20210122T133229_", "_10m.jp2");
  // This re-encoding has a single resolution level: nothing to reduce, and nothing written.
  const TQuicklookResult reduced = WriteQuicklook(bands, out.wstring(), 1);
  EXPECT_FALSE(reduced.Written);
  EXPECT_NE(reduced.Error.find(L"has 1 resolution levels"), std::wstring::npos);
  EXPECT_FALSE(fs::exists(out));

  const TQuicklookResult r = WriteQuicklook(bands, out.wstring(), 0);
  ASSERT_TRUE(r.Written) << std::string(r.Error.begin(), r.Error.end());
  ASSERT_EQ(r.Notes.size(), 3u);
  EXPECT_NE(r.Notes[0].find(L"lists no offset for T22HBD_20210122T133229_B04_10m.jp2: taken as 0"), std::wstring::npos);
  // Every pixel is the mapping of its sample with offset 0, or no data where any band has none.
  TBitmap ours = Load(FIF_PNG, out);
  TBitmap red = Load(FIF_JP2, dir / "T22HBD_20210122T133229_B04_10m.jp2");
  TBitmap green = Load(FIF_JP2, dir / "T22HBD_20210122T133229_B03_10m.jp2");
  TBitmap blue = Load(FIF_JP2, dir / "T22HBD_20210122T133229_B02_10m.jp2");
  ASSERT_TRUE(ours && red && green && blue);
  for (unsigned y = 0; y < 100; ++y) {
    const uint16_t *r16 = Row16(red.get(), y), *g16 = Row16(green.get(), y), *b16 = Row16(blue.get(), y);
    for (unsigned x = 0; x < 100; ++x)
      ASSERT_EQ(Pixel(ours.get(), x, y)[FI_RGBA_RED], g16[x] && b16[x] ? TrueColourByte(r16[x], 0) : 0) << x << "," << y;
  }
}

TEST_F(Quicklook, MetadataIsFoundUpToFourFoldersAboveTheBand) {
  const fs::path safe = FWork / "P.SAFE";
  const fs::path bands = safe / "GRANULE" / "G" / "IMG_DATA" / "R60m";
  fs::create_directories(bands / "deeper");
  fs::copy_file(FReal / "l2a_T29UNU_20221005_unmodified" / "MTD_MSIL2A.xml", safe / "MTD_MSIL2A.xml");
  const TBandOffsetSource atFour = FindBandOffset((bands / "T_B8A_60m.jp2").wstring());
  EXPECT_TRUE(atFour.Listed);
  EXPECT_EQ(atFour.Offset, -1000);
  const TBandOffsetSource atFive = FindBandOffset((bands / "deeper" / "T_B04_60m.jp2").wstring());
  EXPECT_TRUE(atFive.MetadataFile.empty());
  EXPECT_EQ(atFive.Offset, 0);
  // A metadata file without the band's offset (or a band it cannot name) gives 0, said so.
  const TBandOffsetSource unnamed = FindBandOffset((bands / "TCI_60m.jp2").wstring());
  EXPECT_FALSE(unnamed.MetadataFile.empty());
  EXPECT_FALSE(unnamed.Listed);
  EXPECT_EQ(unnamed.Offset, 0);
}

// Each way a metadata file gives no offset is told apart: the note says which.
TEST(QuicklookOffsets, AMetadataFileThatGivesNoOffsetSaysWhy) {
  const fs::path dir = testenv::FreshPrivateFolder("bandweave-offsets-");
  const std::wstring band = (dir / "T_B04_60m.jp2").wstring();
  const auto write = [&](const std::string& text) { std::ofstream(dir / "MTD_MSIL2A.xml", std::ios::binary) << text; };
  const std::string offset = "<r><BOA_ADD_OFFSET band_id=\"3\">-1000</BOA_ADD_OFFSET></r>";
  const struct {
    std::string Text;
    const wchar_t* Unread;
  } cases[] = {
      {offset, L""},
      {"<r><BOA_ADD_OFFSET band_id=\"1\">-1000</BOA_ADD_OFFSET></r>", L""},
      {"\x89PNG junk", L"is not readable XML"},
      {"<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" + offset, L"is refused because of its DOCTYPE"},
  };
  for (const auto& c : cases) {
    write(c.Text);
    const TBandOffsetSource source = FindBandOffset(band);
    EXPECT_EQ(source.Unread, c.Unread) << c.Text;
    EXPECT_EQ(source.Listed, c.Text == offset);
  }
  // Over the read limit: not read at all (a sparse file costs nothing to make).
  write(offset);
  fs::resize_file(dir / "MTD_MSIL2A.xml", kXmlMaxBytes + 1);
  EXPECT_EQ(FindBandOffset(band).Unread, L"is too large to read");
  fs::remove_all(dir);
}

// The quicklook goes to disk as the composite does. A link planted where an earlier version
// kept its partial file is not ours and stays as it is; a link at the quicklook's own name is
// replaced by the quicklook; what either points to is never written. A failed save leaves the
// earlier quicklook and nothing of its own.
TEST(QuicklookFile, ReplacesALinkAtItsNameAndNeverWritesThroughOne) {
  FreeImageSession images;
  const fs::path dir = testenv::FreshPrivateFolder("bandweave-quicklook-links-");
  TBandNames names;
  names.Started = true;
  jp2encode::TLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  for (std::wstring* band : {&names.Red, &names.Green, &names.Blue}) {
    const fs::path path = dir / ("x_B0" + std::to_string(4 - (band - &names.Red)) + ".jp2");
    ASSERT_TRUE(jp2encode::Write(path, layout, [](uint32_t, uint32_t x, uint32_t y) { return int32_t(100 * x + y); }));
    *band = path.wstring();
  }
  const fs::path out = dir / "x_48_ql.png";
  std::ofstream(dir / "victim") << "the user's";
  std::error_code error;
  fs::create_symlink(dir / "victim", fs::path(out.string() + ".part"), error);
  if (!error) fs::create_symlink(dir / "victim", out, error);
  const bool linked = !error;
  if (!linked) std::printf("no symbolic links here: the planted-link cases were not run\n");

  TQuicklookResult r = WriteQuicklook(names, out.wstring(), 1);
  ASSERT_TRUE(r.Written) << std::string(r.Error.begin(), r.Error.end());
  EXPECT_FALSE(fs::is_symlink(out));
  TBitmap png = LoadImageFile(FIF_PNG, out.wstring());
  ASSERT_TRUE(png);
  EXPECT_EQ(FreeImage_GetWidth(png.get()), 20u);
  EXPECT_EQ(FreeImage_GetBPP(png.get()), 32u);  // no data marked transparent in the temporary file
  if (linked) {
    std::ifstream victim(dir / "victim");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "the user's");
    EXPECT_TRUE(fs::is_symlink(fs::path(out.string() + ".part")));
  }

  const auto before = fs::file_size(out);
  tempFileTesting::SetWriteLimit(100);
  r = WriteQuicklook(names, out.wstring(), 0);
  tempFileTesting::SetWriteLimit(-1);
  EXPECT_FALSE(r.Written);
  EXPECT_EQ(fs::file_size(out), before);
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_NE(entry.path().filename().string().rfind(".bw-", 0), 0u) << entry.path() << " left behind";
  fs::remove_all(dir);
}

TEST_F(Quicklook, MaskedPixelsAreNoDataAtAReducedResolutionToo) {
  const fs::path dir = FReal / "l2a_T29UNU_20221005_unmodified";
  const TBandNames bands = Bands(dir, "T29UNU_20221005T115411_", "_60m.jp2");
  const TMaskClasses classes = TMaskClasses::Default();
  const TQuicklookResult plain = WriteQuicklook(bands, (FWork / "plain.png").wstring(), 1);
  const TQuicklookResult masked = WriteQuicklook(bands, (FWork / "masked.png").wstring(), 1, {}, &classes);
  ASSERT_TRUE(plain.Written && masked.Written) << std::string(masked.Error.begin(), masked.Error.end());
  TBitmap a = Load(FIF_PNG, FWork / "plain.png"), b = Load(FIF_PNG, FWork / "masked.png");
  ASSERT_TRUE(a && b);
  ASSERT_EQ(FreeImage_GetWidth(b.get()), 915u);

  // The 20 m classes at the quicklook's 120 m pixels: the middle one of each 6 x 6 block
  // (nearest neighbour from pixel centres; the grids share their corner).
  TBitmap scl = Load(FIF_JP2, dir / "T29UNU_20221005T115411_SCL_20m.jp2");
  ASSERT_TRUE(scl);
  ASSERT_EQ(FreeImage_GetBPP(scl.get()), 8u);
  size_t hidden = 0;
  for (unsigned y = 0; y < 915; ++y) {
    const BYTE* classRow = FreeImage_GetScanLine(scl.get(), static_cast<int>(5489 - (6 * y + 3)));
    for (unsigned x = 0; x < 915; ++x) {
      const BYTE* p = Pixel(a.get(), x, y);
      const BYTE* q = Pixel(b.get(), x, y);
      const bool cloud = classes.Has(classRow[6 * x + 3]);
      hidden += cloud;
      for (int c : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE, FI_RGBA_ALPHA})
        ASSERT_EQ(q[c], cloud ? 0 : p[c]) << x << "," << y << " class " << int(classRow[6 * x + 3]);
    }
  }
  EXPECT_GT(hidden, 915u * 915u / 2);
}
