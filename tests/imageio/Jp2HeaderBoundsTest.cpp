// The bounds a band's header must keep before any library allocates for it: the least bytes
// its tiles and its components' precincts take, and a picture this machine's memory can hold.
// Each case breaks exactly one of them, in a file that is otherwise sound, so that each bound
// is seen doing its own work.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Jp2Header.h"
#include "Jp2Encode.h"
#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {
// Rewrites the picture and tile sizes a file claims, in its SIZ segment and (JP2) image header.
void Claim(const fs::path& path, uint32_t width, uint32_t height, uint32_t tileWidth, uint32_t tileHeight) {
  std::string data;
  {
    std::ifstream in(path, std::ios::binary);
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const auto put = [&](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<char>(value >> (24 - 8 * i));
  };
  const size_t siz = data.find("\xFF\x4F\xFF\x51");
  ASSERT_NE(siz, std::string::npos);
  put(siz + 8, width);
  put(siz + 12, height);
  put(siz + 24, tileWidth);
  put(siz + 28, tileHeight);
  const size_t ihdr = data.find("ihdr");
  if (ihdr != std::string::npos && ihdr < siz) {
    put(ihdr + 4, height);
    put(ihdr + 8, width);
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(data.data(), static_cast<std::streamsize>(data.size()));
}

class HeaderBounds : public ::testing::Test {
 protected:
  void SetUp() override { FDir = testenv::FreshPrivateFolder("bandweave-bounds-"); }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FDir, ignored);
  }
  // A lossless band of the layout, noisy or flat (flat ones take few bytes).
  fs::path Make(const std::string& name, const jp2encode::TLayout& layout, bool noisy) {
    const fs::path path = FDir / name;
    EXPECT_TRUE(jp2encode::Write(path, layout, [noisy](uint32_t c, uint32_t x, uint32_t y) {
      return noisy ? static_cast<int32_t>((x * 7919u + y * 104729u + c * 31u) * 2654435761u >> 17) : 1000;
    })) << name;
    return path;
  }
  TJp2HeaderStatus Read(const fs::path& path, std::string& error) {
    TJp2Header header;
    error.clear();
    return ReadJp2Header(path, header, error);
  }
  fs::path FDir;
};

// Bytes the header's claims need at the least: 14 per tile, one per precinct of 2^15 a side
// per component.
constexpr uint64_t kPerTile = 14;
constexpr uint32_t kPrecinctSide = 1u << 15;
}  // namespace

TEST_F(HeaderBounds, APictureBeyondTheMachinesMemoryOnly) {
  // 2^20 pixels a side in one tile: 32 x 32 precincts' bytes, which the file has; 2 TiB of
  // samples, which no machine here has.
  jp2encode::TLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  layout.Precision = 16;
  const fs::path band = Make("memory.jp2", layout, true);
  const uint32_t side = 1u << 20;
  ASSERT_GT(fs::file_size(band), kPerTile + uint64_t{side / kPrecinctSide} * (side / kPrecinctSide));
  Claim(band, side, side, side, side);
  std::string error;
  EXPECT_EQ(Read(band, error), TJp2HeaderStatus::Impossible);
  EXPECT_EQ(error, "the header claims 1048576 x 1048576 pixels, more than this machine's memory can hold");
}

TEST_F(HeaderBounds, MoreTilesThanTheFileHasBytesForOnly) {
  // A flat 40 x 30 band of a few hundred bytes: in 20 x 15 tiles it could be, in 1 x 1 tiles
  // (1200 of them, 16800 bytes at the least) it cannot.
  jp2encode::TLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  layout.Codestream = true;
  const fs::path fits = Make("four.j2k", layout, false);
  const fs::path band = Make("tiles.j2k", layout, false);
  const auto size = fs::file_size(band);
  ASSERT_LT(size, 1200 * kPerTile);
  Claim(fits, 40, 30, 20, 15);
  Claim(band, 40, 30, 1, 1);
  std::string error;
  EXPECT_EQ(Read(fits, error), TJp2HeaderStatus::Read) << error;
  EXPECT_EQ(Read(band, error), TJp2HeaderStatus::Impossible);
  EXPECT_EQ(error, "the header claims 40 x 30 pixels, more than its " + std::to_string(size) + " bytes can hold");
}

TEST_F(HeaderBounds, MoreComponentsThanTheFileHasBytesForOnly) {
  // One row claimed 2^20 wide, in one tile: 32 precincts per component. One component's take
  // fits the file; 64 components' do not.
  jp2encode::TLayout layout;
  layout.Width = 40;
  layout.Height = 1;
  layout.Codestream = true;
  const fs::path one = Make("one.j2k", layout, false);
  layout.Components = 64;
  const fs::path many = Make("many.j2k", layout, false);
  const uint32_t width = 1u << 20;
  const uint64_t perComponent = width / kPrecinctSide;
  ASSERT_GT(fs::file_size(one), kPerTile + perComponent);
  ASSERT_LT(fs::file_size(many), kPerTile + 64 * perComponent);
  Claim(one, width, 1, width, 1);
  Claim(many, width, 1, width, 1);
  std::string error;
  EXPECT_EQ(Read(one, error), TJp2HeaderStatus::Read) << error;
  EXPECT_EQ(Read(many, error), TJp2HeaderStatus::Impossible);
  EXPECT_EQ(error, "the header claims 1048576 x 1 pixels, more than its " + std::to_string(fs::file_size(many)) +
                       " bytes can hold");
}
