// Bands decoded straight into the Composite against the same bands through FreeImage: the
// same samples in every word, the same messages in the same order, for layouts that put tile
// edges everywhere, for bands cut short, and for the kinds that must keep going through
// FreeImage.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BandMerge.h"
#include "FreeImageSession.h"
#include "Jp2Header.h"
#include "Jp2Encode.h"
#include "ImageTestEnvironment.h"
#include "RecordingHost.h"
#include "RealData.h"
#include "TempFolder.h"
#include "TestEnv.h"
#include "TextCodec.h"
#include "qelUtils.h"

namespace fs = std::filesystem;

namespace {
[[maybe_unused]] auto* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new imagetest::TImageEnvironment);
using imagetest::Wide;

// Noise within the precision, different in every band and component.
int32_t Noise(uint32_t precision, uint32_t seed, uint32_t x, uint32_t y) {
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ (seed + 1) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 13;
  return static_cast<int32_t>(h & ((1u << precision) - 1));
}

struct TRun {
  TBitmap Composite;
  TBandSet BandSet = 0;
  std::vector<std::wstring> Calls;
  std::vector<double> Progress;
};

// The job's three band steps on the given files, one way or the other.
TRun RunBands(const std::vector<fs::path>& bands, bool direct) {
  compositionTesting::SetDirectDecoding(direct);
  TCompositeState job;
  RecordingHost host;
  const TBand order[] = {TBand::Red, TBand::Green, TBand::Blue};
  for (int k = 0; k < 3; ++k) ProcessBand(job, host, Wide(bands[k]), FIF_JP2, order[k]);
  compositionTesting::SetDirectDecoding(true);
  return {std::move(job.Composite), job.BandSet, host.Calls, host.Progress};
}

// Both ways on one set of band files: the same set, calls and words. Returns the direct run.
TRun ExpectBothWaysAlike(const std::vector<fs::path>& bands) {
  TRun direct = RunBands(bands, true), reference = RunBands(bands, false);
  EXPECT_EQ(direct.BandSet, reference.BandSet);
  EXPECT_EQ(direct.Calls, reference.Calls);
  if (direct.BandSet != kBandSetAll || reference.BandSet != kBandSetAll) return direct;
  FIBITMAP* a = direct.Composite.get();
  FIBITMAP* b = reference.Composite.get();
  EXPECT_EQ(FreeImage_GetImageType(a), FIT_RGB16);
  EXPECT_EQ(FreeImage_GetWidth(a), FreeImage_GetWidth(b));
  EXPECT_EQ(FreeImage_GetHeight(a), FreeImage_GetHeight(b));
  if (FreeImage_GetWidth(a) != FreeImage_GetWidth(b) || FreeImage_GetHeight(a) != FreeImage_GetHeight(b)) return direct;
  size_t wrong = 0;
  for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y) {
    const auto* p = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(a, static_cast<int>(y)));
    const auto* q = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(b, static_cast<int>(y)));
    for (unsigned x = 0; x < FreeImage_GetWidth(a); ++x)
      wrong += p[x].red != q[x].red || p[x].green != q[x].green || p[x].blue != q[x].blue;
  }
  EXPECT_EQ(wrong, 0u);
  return direct;
}

class DirectDecodingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = testenv::FreshPrivateFolder("bandweave-direct-");
  }
  void TearDown() override {
    compositionTesting::SetDirectDecoding(true);
    fs::remove_all(FDir);
  }

  // Three bands of one layout, each with values of its own.
  std::vector<fs::path> MakeBands(const std::string& name, const jp2encode::TLayout& layout) {
    std::vector<fs::path> bands;
    for (uint32_t k = 0; k < 3; ++k) {
      bands.push_back(FDir / (name + "_B0" + std::to_string(4 - k) + ".jp2"));
      EXPECT_TRUE(jp2encode::Write(bands.back(), layout, [&](uint32_t c, uint32_t x, uint32_t y) {
        return Noise(layout.Precision, 3 * k + c, x, y) - (layout.Signed ? 1 << (layout.Precision - 1) : 0);
      })) << name;
    }
    return bands;
  }
  fs::path FDir;
};

jp2encode::TLayout Layout(uint32_t w, uint32_t h, uint32_t precision, uint32_t tile, int levels, int block, int precinct) {
  jp2encode::TLayout s;
  s.Width = w;
  s.Height = h;
  s.Precision = precision;
  s.TileWidth = s.TileHeight = tile;
  s.Resolutions = levels;
  s.CodeBlock = block;
  s.Precinct = precinct;
  return s;
}

TEST_F(DirectDecodingTest, SameCompositeAsFreeImageWhereverTheTilesEnd) {
  jp2encode::TLayout kakaduLike = Layout(333, 190, 15, 192, 5, 4, 64);
  kakaduLike.PacketLengths = true;
  jp2encode::TLayout offset = Layout(250, 180, 15, 64, 4, 32, 0);
  offset.X0 = 37;  // the picture starts inside the first tiles
  offset.Y0 = 5;
  const std::vector<std::pair<std::string, jp2encode::TLayout>> layouts = {
      {"one_pixel", Layout(1, 1, 15, 0, 1, 64, 0)},
      {"one_tile", Layout(300, 200, 15, 0, 5, 64, 256)},
      {"odd_12bit", Layout(1025, 1023, 12, 256, 5, 64, 128)},
      {"odd_16bit_one_level", Layout(1025, 1023, 16, 512, 1, 32, 0)},
      {"small_blocks_plt", kakaduLike},
      {"nine_bits", Layout(64, 48, 9, 32, 2, 16, 0)},
      {"offset_on_the_grid", offset},
  };
  for (const auto& [name, layout] : layouts) {
    SCOPED_TRACE(name);
    const TRun run = ExpectBothWaysAlike(MakeBands(name, layout));
    EXPECT_EQ(run.BandSet, kBandSetAll);
    // The bands' own values, not three copies of one: a word taken from the wrong band shows.
    const auto* pixel = reinterpret_cast<const FIRGB16*>(
        FreeImage_GetScanLine(run.Composite.get(), static_cast<int>(layout.Height - 1)));
    EXPECT_EQ(pixel[0].green, Noise(layout.Precision, 3, 0, 0));
    EXPECT_EQ(pixel[0].blue, Noise(layout.Precision, 6, 0, 0));
    // Progress climbs through each band's quarter to three quarters.
    ASSERT_FALSE(run.Progress.empty());
    for (size_t i = 1; i < run.Progress.size(); ++i) EXPECT_LE(run.Progress[i - 1], run.Progress[i]);
    EXPECT_DOUBLE_EQ(run.Progress.front(), 0.0);
    EXPECT_DOUBLE_EQ(run.Progress.back(), 0.75);
  }
}

TEST_F(DirectDecodingTest, SameCompositeAsFreeImageFromRealBands) {
  const fs::path real = testenv::RealData();
  BANDWEAVE_NEED_REAL_DATA(real);
  const std::vector<std::vector<fs::path>> sets = {
      // Kakadu-encoded as ESA ships them: 192 x 192 tiles, 4 x 4 code-blocks, PLT markers.
      {real / "l2a_T29UNU_20221005_unmodified" / "T29UNU_20221005T115411_B04_60m.jp2",
       real / "l2a_T29UNU_20221005_unmodified" / "T29UNU_20221005T115411_B03_60m.jp2",
       real / "l2a_T29UNU_20221005_unmodified" / "T29UNU_20221005T115411_B02_60m.jp2"},
      // Lossless 15-bit, one tile.
      {real / "l1c_T19UDP_20170729_aws_layout" / "preview" / "B04.jp2",
       real / "l1c_T19UDP_20170729_aws_layout" / "preview" / "B03.jp2",
       real / "l1c_T19UDP_20170729_aws_layout" / "preview" / "B02.jp2"},
      // Lossy 16-bit, one tile.
      {real / "l2a_T22HBD_20210122_R10m_downsampled_100px" / "T22HBD_20210122T133229_B04_10m.jp2",
       real / "l2a_T22HBD_20210122_R10m_downsampled_100px" / "T22HBD_20210122T133229_B03_10m.jp2",
       real / "l2a_T22HBD_20210122_R10m_downsampled_100px" / "T22HBD_20210122T133229_B02_10m.jp2"}};
  for (const auto& bands : sets) {
    SCOPED_TRACE(bands[0].filename().string());
    if (!fs::exists(bands[0])) continue;
    TJp2Header header;  // a band the direct way takes
    std::string error;
    ASSERT_EQ(ReadJp2Header(bands[0], header, error), TJp2HeaderStatus::Read) << error;
    EXPECT_TRUE(header.IsPlainBand() && header.Precision >= 9);
    EXPECT_EQ(ExpectBothWaysAlike(bands).BandSet, kBandSetAll);
  }
}

TEST_F(DirectDecodingTest, OtherKindsStillGoThroughFreeImageUnchanged) {
  jp2encode::TLayout eightBit = Layout(70, 50, 8, 32, 3, 32, 0);
  jp2encode::TLayout colour = Layout(70, 50, 16, 32, 3, 32, 0);
  colour.Components = 3;
  jp2encode::TLayout signedBand = Layout(70, 50, 16, 32, 3, 32, 0);
  signedBand.Signed = true;
  jp2encode::TLayout codestream = Layout(70, 50, 15, 32, 3, 32, 0);
  codestream.Codestream = true;  // not what FIF_JP2 reads: fails to load, as ever
  for (const auto& [name, layout] : {std::pair{"eight_bit", eightBit}, std::pair{"three_components", colour},
                                   std::pair{"signed", signedBand}, std::pair{"bare_codestream", codestream}}) {
    SCOPED_TRACE(name);
    const TRun run = ExpectBothWaysAlike(MakeBands(name, layout));
    EXPECT_EQ(run.BandSet, layout.Codestream ? 0 : kBandSetAll);
  }
}

// A band sampled every second grid point loads at half the grid's size, and that is the size it
// is held against: the grid's size would refuse the right band and pass the wrong one.
TEST_F(DirectDecodingTest, SubsampledBandsAreComparedAtTheSizeTheyLoad) {
  struct TCase {
    const char* name;
    uint32_t x0, y0, gridWidth, gridHeight, step;
    uint32_t plainWidth, plainHeight;  // red and blue
    bool fits;
  };
  const TCase cases[] = {
      {"half_size", 0, 0, 200, 160, 2, 100, 80, true},
      {"grid_size_is_not_the_picture", 0, 0, 200, 160, 2, 200, 160, false},
      // From grid point 1 to 11 a step of 2 holds 2, 4, ..., 10: five samples, not six.
      {"offset_on_the_grid", 1, 3, 11, 9, 2, 5, 4, true},
      {"offset_rounded_the_other_way", 1, 3, 11, 9, 2, 6, 5, false},
      {"third", 2, 0, 31, 20, 3, 10, 7, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    jp2encode::TLayout plain = Layout(c.plainWidth, c.plainHeight, 15, 0, 1, 64, 0);
    jp2encode::TLayout sparse = Layout(c.gridWidth, c.gridHeight, 15, 0, 1, 64, 0);
    sparse.X0 = c.x0;
    sparse.Y0 = c.y0;
    sparse.SubsampleX = sparse.SubsampleY = c.step;
    std::vector<fs::path> bands = MakeBands(c.name, plain);
    ASSERT_TRUE(jp2encode::Write(bands[1], sparse, [](uint32_t, uint32_t x, uint32_t y) { return int32_t(x + 7 * y); }));

    TJp2Header header;
    std::string error;
    ASSERT_EQ(ReadJp2Header(bands[1], header, error), TJp2HeaderStatus::Read) << error;
    EXPECT_TRUE(header.Subsampled);
    EXPECT_EQ(header.Width, c.gridWidth);
    // The size FreeImage loads it at, which the job compares.
    TBitmap loaded = LoadImageFile(FIF_JP2, Wide(bands[1]));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(header.ComponentWidth, FreeImage_GetWidth(loaded.get()));
    EXPECT_EQ(header.ComponentHeight, FreeImage_GetHeight(loaded.get()));

    const TRun run = ExpectBothWaysAlike(bands);
    if (c.fits) {
      EXPECT_EQ(run.BandSet, kBandSetAll);
      const auto* top = reinterpret_cast<const FIRGB16*>(
          FreeImage_GetScanLine(run.Composite.get(), static_cast<int>(c.plainHeight - 1)));
      EXPECT_EQ(top[1].green, 1);
    } else {
      EXPECT_EQ(run.BandSet, kBandSetRed | kBandSetBlue);
      EXPECT_NE(std::find(run.Calls.begin(), run.Calls.end(), L"box: Size of green differs from red"), run.Calls.end());
    }
  }
}

// Copies the first bytes of a file.
void Truncate(const fs::path& file, uintmax_t bytes) {
  std::vector<char> data(bytes);
  std::ifstream(file, std::ios::binary).read(data.data(), static_cast<std::streamsize>(bytes));
  std::ofstream(file, std::ios::binary | std::ios::trunc).write(data.data(), static_cast<std::streamsize>(bytes));
}

TEST_F(DirectDecodingTest, BandsCutShortFailAsTheyDidThroughFreeImage) {
  const std::vector<fs::path> bands = MakeBands("cut", Layout(300, 200, 15, 128, 5, 64, 0));
  // Green loses the end of its last tile, blue half its tiles; red, cut short, leaves the
  // base to green.
  Truncate(bands[1], fs::file_size(bands[1]) - 50);
  Truncate(bands[2], fs::file_size(bands[2]) / 2);
  TRun run = ExpectBothWaysAlike(bands);
  EXPECT_EQ(run.BandSet, kBandSetRed);
  EXPECT_EQ(run.Calls, (std::vector<std::wstring>{L"status: Processing red", L"repaint", L"status: Processing green",
                                                  L"repaint", L"box: Error loading green", L"status: Processing blue",
                                                  L"repaint", L"box: Error loading blue"}));
  Truncate(bands[0], fs::file_size(bands[0]) - 2);
  run = ExpectBothWaysAlike(bands);
  EXPECT_EQ(run.Calls.at(2), L"box: Error loading red");
}

TEST_F(DirectDecodingTest, HeaderClaimingAHugePictureFailsAtOnce) {
  std::vector<fs::path> bands = MakeBands("huge", Layout(40, 30, 15, 0, 3, 64, 0));
  // One tile of 2^31-1 x 2^31-1 pixels, says the red band's header.
  std::fstream file(bands[0], std::ios::binary | std::ios::in | std::ios::out);
  std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t ihdr = data.find("ihdr"), siz = data.find("\xFF\x4F\xFF\x51");
  ASSERT_NE(ihdr, std::string::npos);
  ASSERT_NE(siz, std::string::npos);
  for (const size_t at : {ihdr + 4, ihdr + 8, siz + 8, siz + 12, siz + 24, siz + 28}) data.replace(at, 4, "\x7F\xFF\xFF\xFF");
  file.seekp(0);
  file.write(data.data(), static_cast<std::streamsize>(data.size()));
  file.close();
  for (const bool direct : {true, false}) {
    const auto start = std::chrono::steady_clock::now();
    const TRun run = RunBands(bands, direct);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(run.Calls.at(2), L"box: Error loading red");
    EXPECT_EQ(run.BandSet, kBandSetRed | kBandSetBlue);  // green became the base
  }
}
}  // namespace
