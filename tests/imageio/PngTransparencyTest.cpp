// The transparent colour added to an RGB PNG written by FreeImage: FreeImage reads it back as
// alpha 0 on exactly the marked colour, with every sample kept, also when the file is larger
// than one block of the in-place shift; files that cannot take it are left as they were.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "PngTransparency.h"
#include "TempFile.h"
#include "WriterTestKit.h"

namespace fs = std::filesystem;
using writertest::FreshFolder;
using writertest::ReadAll;

namespace {
using TImage = std::unique_ptr<FIBITMAP, void (*)(FIBITMAP*)>;

TImage LoadPng(const fs::path& path) {
#if defined(_WIN32)
  return TImage(FreeImage_LoadU(FIF_PNG, path.c_str(), 0), FreeImage_Unload);
#else
  return TImage(FreeImage_Load(FIF_PNG, path.c_str(), 0), FreeImage_Unload);
#endif
}
bool SavePng(FIBITMAP* image, const fs::path& path) {
#if defined(_WIN32)
  return FreeImage_SaveU(FIF_PNG, image, path.c_str(), PNG_Z_BEST_SPEED);
#else
  return FreeImage_Save(FIF_PNG, image, path.c_str(), PNG_Z_BEST_SPEED);
#endif
}

// As the program does it: the file's bytes in a temporary file, the chunk put in there, and the
// result moved over the file only when the insertion succeeded.
bool InsertChunk(const fs::path& path, const std::vector<uint8_t>& chunk, std::string& error) {
  std::string bytes;
  {  // closed before the move: Windows refuses to replace a file that is open
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      error = "cannot open the file";
      return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::unique_ptr<TTempFile> file = TTempFile::CreateBeside(path);
  return file && file->Write(bytes.data(), bytes.size()) && InsertPngChunkAfterHeader(*file, chunk, error) &&
         file->CommitTo(path);
}
}  // namespace

TEST(PngTransparency, ChunkIsAValidTrnsForTheColour) {
  const std::vector<uint8_t> chunk = PngTransparentColourChunk(0x0102, 0, 0xffff);
  // Length, type, big-endian samples, and the CRC of type and data (0x611c95ab, worked out
  // with Python's zlib.crc32 apart from this code).
  const std::vector<uint8_t> expected = {0, 0, 0, 6, 't', 'R', 'N', 'S', 1, 2, 0, 0, 0xff, 0xff, 0x61, 0x1c, 0x95, 0xab};
  EXPECT_EQ(chunk, expected);
}

TEST(PngTransparency, BlackBecomesTransparentAndEverySampleStays) {
  const fs::path folder = FreshFolder("trns");
  // Noise does not compress, so the file spans several blocks of the shift.
  const unsigned w = 900, h = 700;
  TImage picture(FreeImage_Allocate(w, h, 24), FreeImage_Unload);
  ASSERT_TRUE(picture);
  std::mt19937 random(7);
  for (unsigned y = 0; y < h; ++y) {
    BYTE* row = FreeImage_GetScanLine(picture.get(), int(y));
    for (unsigned x = 0; x < w * 3; ++x) row[x] = static_cast<BYTE>(random() % 4 == 0 ? 0 : random());
  }
  for (unsigned x = 0; x < w; x += 3) std::fill_n(FreeImage_GetScanLine(picture.get(), int(x % h)) + 3 * x, 3, 0);
  const fs::path file = folder / "noise.png";
  ASSERT_TRUE(SavePng(picture.get(), file));
  const size_t before = fs::file_size(file);
  ASSERT_GT(before, 1u << 20);

  std::string error;
  ASSERT_TRUE(InsertChunk(file, PngTransparentColourChunk(0, 0, 0), error)) << error;
  EXPECT_EQ(fs::file_size(file), before + 18);
  TImage read = LoadPng(file);
  ASSERT_TRUE(read);
  ASSERT_EQ(FreeImage_GetBPP(read.get()), 32u);
  size_t transparent = 0;
  for (unsigned y = 0; y < h; ++y) {
    const BYTE* in = FreeImage_GetScanLine(picture.get(), int(y));
    const BYTE* out = FreeImage_GetScanLine(read.get(), int(y));
    for (unsigned x = 0; x < w; ++x, in += 3, out += 4) {
      ASSERT_TRUE(in[0] == out[0] && in[1] == out[1] && in[2] == out[2]) << x << "," << y;
      const bool black = !in[0] && !in[1] && !in[2];
      ASSERT_EQ(out[FI_RGBA_ALPHA], black ? 0 : 255) << x << "," << y;
      transparent += black;
    }
  }
  EXPECT_GE(transparent, w / 3);

  // A second colour is refused, and the file stays as it is.
  const std::string marked = ReadAll(file);
  EXPECT_FALSE(InsertChunk(file, PngTransparentColourChunk(1, 1, 1), error));
  EXPECT_EQ(error, "the PNG already marks a transparent colour");
  EXPECT_EQ(ReadAll(file), marked);
  fs::remove_all(folder);
}

TEST(PngTransparency, OtherFilesAreRefusedUnchanged) {
  const fs::path folder = FreshFolder("trns-refused");
  std::string error;
  EXPECT_FALSE(InsertChunk(folder / "missing.png", PngTransparentColourChunk(0, 0, 0), error));

  const fs::path text = folder / "text.png";
  { std::ofstream(text, std::ios::binary) << "not a PNG at all, but long enough to be read as one"; }
  const std::string textBefore = ReadAll(text);
  EXPECT_FALSE(InsertChunk(text, PngTransparentColourChunk(0, 0, 0), error));
  EXPECT_EQ(error, "not a PNG file");
  EXPECT_EQ(ReadAll(text), textBefore);

  // A grey PNG: a tRNS chunk of three samples would make it invalid.
  TImage grey(FreeImage_Allocate(16, 16, 8), FreeImage_Unload);
  ASSERT_TRUE(grey);
  RGBQUAD* palette = FreeImage_GetPalette(grey.get());
  for (int i = 0; i < 256; ++i) palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
  const fs::path greyFile = folder / "grey.png";
  ASSERT_TRUE(SavePng(grey.get(), greyFile));
  const std::string greyBefore = ReadAll(greyFile);
  EXPECT_FALSE(InsertChunk(greyFile, PngTransparentColourChunk(0, 0, 0), error));
  EXPECT_EQ(error, "not an RGB PNG");
  EXPECT_EQ(ReadAll(greyFile), greyBefore);
  fs::remove_all(folder);
}
