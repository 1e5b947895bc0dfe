// The band decoder against files made for it: every sample in its place for tilings that end
// anywhere, at full and reduced resolution, on one thread and several; and a clear failure,
// never a partly blank band, for files that are cut short, claim the impossible or hold
// something other than a plain band.
#include <gtest/gtest.h>
#include <openjpeg.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Jp2BandDecoder.h"
#include "Jp2Header.h"
#include "Jp2Encode.h"
#include "Jp2GeoBoxes.h"
#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {
// Distinct, noisy values within the precision, so a sample in the wrong place shows.
int32_t Noise(uint32_t precision, uint32_t x, uint32_t y) {
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 13;
  return static_cast<int32_t>(h & ((1u << precision) - 1));
}

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = testenv::FreshPrivateFolder("bandweave-decoder-");
  }
  void TearDown() override { fs::remove_all(FDir); }

  fs::path Make(const std::string& name, const jp2encode::TLayout& layout) {
    const fs::path path = FDir / name;
    EXPECT_TRUE(jp2encode::Write(path, layout, [&](uint32_t c, uint32_t x, uint32_t y) {
      return Noise(layout.Precision, x + 7 * c, y) - (layout.Signed ? 1 << (layout.Precision - 1) : 0);
    })) << name;
    return path;
  }
  fs::path FDir;
};

// OpenJPEG's own whole-picture decoding, on one thread: the reference at any resolution.
std::vector<int32_t> ReferenceDecode(const fs::path& path, bool codestream, unsigned reduce, uint32_t& width,
                                     uint32_t& height) {
  std::vector<int32_t> samples;
  opj_stream_t* stream = opj_stream_create_default_file_stream(path.string().c_str(), OPJ_TRUE);
  opj_codec_t* codec = opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  parameters.cp_reduce = reduce;
  opj_image_t* image = nullptr;
  if (opj_setup_decoder(codec, &parameters) && opj_codec_set_threads(codec, 0) &&
      opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) && opj_end_decompress(codec, stream)) {
    width = image->comps[0].w;
    height = image->comps[0].h;
    samples.assign(image->comps[0].data, image->comps[0].data + size_t{width} * height);
  }
  if (image) opj_image_destroy(image);
  opj_destroy_codec(codec);
  opj_stream_destroy(stream);
  return samples;
}

// Decodes into the middle word of three per pixel, rows in reverse order with a gap after
// each, as a bottom-up picture with padded rows holds them; the other words must stay as set.
struct TInterleaved {
  static constexpr uint16_t kUntouched = 0xA5A5;
  uint32_t Width, Height;
  size_t RowWords;
  std::vector<uint16_t> Words;
  TInterleaved(uint32_t width, uint32_t height)
      : Width(width), Height(height), RowWords(size_t{width} * 3 + 5), Words(RowWords * height, kUntouched) {}
  TSampleTarget Target() {
    TSampleTarget target;
    target.Width = Width;
    target.Height = Height;
    target.PixelStep = 3;
    target.Row = [this](uint32_t y) { return Words.data() + (Height - 1 - y) * RowWords + 1; };
    return target;
  }
  uint16_t At(uint32_t x, uint32_t y) const { return Words[(Height - 1 - y) * RowWords + 1 + 3 * size_t{x}]; }
  size_t Touched() const {  // words written outside the samples' own
    size_t count = 0;
    for (size_t i = 0; i < Words.size(); ++i)
      if (i % RowWords % 3 != 1 || i % RowWords >= size_t{Width} * 3) count += Words[i] != kUntouched;
    return count;
  }
};

struct TLayout {
  const char* Name;
  jp2encode::TLayout Encoding;
};

TEST_F(DecoderTest, EverySampleLandsInItsPlaceAtEveryResolution) {
  auto layout = [](uint32_t w, uint32_t h, uint32_t precision, uint32_t tile, int levels, int block, int precinct) {
    jp2encode::TLayout s;
    s.Width = w;
    s.Height = h;
    s.Precision = precision;
    s.TileWidth = s.TileHeight = tile;
    s.Resolutions = levels;
    s.CodeBlock = block;
    s.Precinct = precinct;
    return s;
  };
  std::vector<TLayout> layouts = {
      {"one pixel", layout(1, 1, 15, 0, 1, 64, 0)},
      {"one tile", layout(300, 200, 15, 0, 5, 64, 256)},
      {"odd size, 256 tiles, 12-bit", layout(1025, 1023, 12, 256, 5, 64, 128)},
      {"odd size, one level, 16-bit", layout(1025, 1023, 16, 512, 1, 32, 0)},
      {"tiles of 4 x 4 code-blocks, 64 precincts", layout(333, 190, 15, 192, 5, 4, 64)},
      {"tile one pixel narrower than the picture", layout(129, 65, 9, 128, 3, 16, 32)},
      {"a column of one-pixel-high tiles", layout(7, 5, 16, 1, 1, 64, 0)},
  };
  jp2encode::TLayout shifted = layout(250, 180, 15, 64, 4, 32, 0);
  shifted.X0 = 37;  // the first tiles are cut by the picture's offset
  shifted.Y0 = 5;
  layouts.push_back({"picture offset on the grid", shifted});
  jp2encode::TLayout bare = layout(200, 150, 14, 100, 3, 64, 0);
  bare.Codestream = true;
  bare.PacketLengths = true;
  layouts.push_back({"bare codestream with packet lengths", bare});

  for (const TLayout& layout : layouts) {
    SCOPED_TRACE(layout.Name);
    const jp2encode::TLayout& s = layout.Encoding;
    const fs::path file = Make(s.Codestream ? "band.j2k" : "band.jp2", s);
    TJp2Header header;
    std::string error;
    ASSERT_EQ(ReadJp2Header(file, header, error), TJp2HeaderStatus::Read) << error;
    EXPECT_EQ(header.Container, s.Codestream ? TJp2Container::Codestream : TJp2Container::Jp2);
    EXPECT_TRUE(header.IsPlainBand());
    EXPECT_EQ(header.Precision, s.Precision);
    ASSERT_EQ(header.Width, s.Width);
    ASSERT_EQ(header.Height, s.Height);

    // OpenJPEG's whole-picture decoding sizes a reduced picture that is offset on the grid
    // by its full size, not by its grid positions: no reference there.
    const bool offset = s.X0 || s.Y0;
    for (unsigned reduce = 0; reduce < header.Resolutions && reduce < (offset ? 1u : 3u); ++reduce) {
      uint32_t width = 0, height = 0;
      const std::vector<int32_t> reference = ReferenceDecode(file, s.Codestream, reduce, width, height);
      ASSERT_FALSE(reference.empty()) << "reduce " << reduce;
      ASSERT_EQ(header.WidthAt(reduce), width) << "reduce " << reduce;
      ASSERT_EQ(header.HeightAt(reduce), height) << "reduce " << reduce;
      for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE("reduce " + std::to_string(reduce) + ", threads " + std::to_string(threads));
        TInterleaved out(width, height);
        TJp2DecodeOptions options;
        options.Reduce = reduce;
        options.Threads = threads;
        ASSERT_TRUE(DecodeJp2Band(file, out.Target(), options, {}, error)) << error;
        size_t wrong = 0;
        for (uint32_t y = 0; y < height; ++y)
          for (uint32_t x = 0; x < width; ++x) wrong += out.At(x, y) != reference[size_t{y} * width + x];
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(out.Touched(), 0u);
        if (reduce == 0) {  // lossless: the very values encoded
          EXPECT_EQ(out.At(width - 1, height - 1), Noise(s.Precision, width - 1, height - 1));
        }
      }
    }
    if (offset) {  // the tiles' reduced areas still fill the grid's reduced picture exactly
      TInterleaved out(header.WidthAt(2), header.HeightAt(2));
      TJp2DecodeOptions options;
      options.Reduce = 2;
      EXPECT_TRUE(DecodeJp2Band(file, out.Target(), options, {}, error)) << error;
      EXPECT_EQ(out.Touched(), 0u);
    }
  }
}

TEST_F(DecoderTest, CallsBackFromTheCallersThreadUntilTheLastTile) {
  jp2encode::TLayout s;
  s.Width = 640;
  s.Height = 480;
  s.TileWidth = s.TileHeight = 128;  // 5 x 4 tiles
  const fs::path file = Make("band.jp2", s);
  const auto caller = std::this_thread::get_id();
  int keepAlives = 0, wrongThread = 0;
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  TWorkCallbacks callbacks;
  callbacks.KeepAlive = [&] {
    ++keepAlives;
    wrongThread += std::this_thread::get_id() != caller;
  };
  callbacks.Progress = [&](uint64_t done, uint64_t total) {
    progress.emplace_back(done, total);
    wrongThread += std::this_thread::get_id() != caller;
  };
  TInterleaved out(640, 480);
  std::string error;
  TJp2DecodeOptions options;
  options.Threads = 2;
  ASSERT_TRUE(DecodeJp2Band(file, out.Target(), options, callbacks, error)) << error;
  EXPECT_GE(keepAlives, 1);
  EXPECT_EQ(wrongThread, 0);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(uint64_t{20}, uint64_t{20}));
  for (size_t i = 1; i < progress.size(); ++i) EXPECT_LE(progress[i - 1].first, progress[i].first);
}

// A failure on a decoding thread (here the target's rows running out of memory) reaches the
// caller as the band's failure, with the words for it, and stops the other threads.
TEST_F(DecoderTest, AFailureOnADecodingThreadReachesTheCaller) {
  jp2encode::TLayout s;
  s.Width = 640;
  s.Height = 480;
  s.TileWidth = s.TileHeight = 64;  // 10 x 8 tiles
  const fs::path file = Make("band.jp2", s);
  for (bool outOfMemory : {true, false}) {
    SCOPED_TRACE(outOfMemory ? "out of memory" : "another exception");
    TInterleaved out(640, 480);
    TSampleTarget target = out.Target();
    const auto row = target.Row;
    std::atomic<uint32_t> rows{0};
    target.Row = [&](uint32_t y) {
      ++rows;
      if (y == 70) {
        if (outOfMemory) throw std::bad_alloc();
        throw std::runtime_error("target");
      }
      return row(y);
    };
    TJp2DecodeOptions options;
    options.Threads = 2;
    std::string error;
    EXPECT_FALSE(DecodeJp2Band(file, target, options, {}, error));
    EXPECT_EQ(error, outOfMemory ? "out of memory" : "the decoder failed");
    EXPECT_LT(rows.load(), 480u * 10 / 2);  // the tiles after the failure are left alone
  }
}

// Copies the first bytes of a file.
void Truncate(const fs::path& from, const fs::path& to, uintmax_t bytes) {
  std::ifstream in(from, std::ios::binary);
  std::vector<char> data(bytes);
  in.read(data.data(), static_cast<std::streamsize>(bytes));
  std::ofstream(to, std::ios::binary).write(data.data(), static_cast<std::streamsize>(bytes));
}

TEST_F(DecoderTest, TruncatedBandsFailInsteadOfComingOutBlank) {
  jp2encode::TLayout s;
  s.Width = 300;
  s.Height = 200;
  s.TileWidth = s.TileHeight = 128;
  const fs::path whole = Make("whole.jp2", s);
  const uintmax_t size = fs::file_size(whole);
  TInterleaved out(300, 200);
  std::string error;
  ASSERT_TRUE(DecodeJp2Band(whole, out.Target(), {}, {}, error)) << error;
  // Within the last tile, just before the end, and about half way, where whole tiles are missing.
  for (const uintmax_t keep : {size - 40, size - 2, size / 2}) {
    SCOPED_TRACE(keep);
    const fs::path cut = FDir / ("cut" + std::to_string(keep) + ".jp2");
    Truncate(whole, cut, keep);
    TJp2Header header;
    ASSERT_EQ(ReadJp2Header(cut, header, error), TJp2HeaderStatus::Read) << error;
    error.clear();
    for (unsigned threads : {1u, 2u}) {
      TJp2DecodeOptions options;
      options.Threads = threads;
      EXPECT_FALSE(DecodeJp2Band(cut, out.Target(), options, {}, error));
      EXPECT_FALSE(error.empty());
    }
  }
}

// A box before the codestream whose length runs past the end of the file (a broken GML box)
// hides where the codestream box starts. The codestream is found behind it and decoded as ever;
// the broken box, and the georeferencing in it, count for nothing. A broken header box, or no
// codestream behind the break, still fails.
TEST_F(DecoderTest, ABoxRunningPastTheEndCostsOnlyItsOwnContent) {
  jp2encode::TLayout s;
  s.Width = 300;
  s.Height = 200;
  s.TileWidth = s.TileHeight = 128;
  const fs::path whole = Make("whole.jp2", s);
  TInterleaved reference(300, 200);
  std::string error;
  ASSERT_TRUE(DecodeJp2Band(whole, reference.Target(), {}, {}, error)) << error;

  using jp2encode::Box;
  const std::string gml = Box("asoc", Box("lbl ", "gml.data") +
                                          Box("asoc", Box("lbl ", "gml.root-instance") +
                                                          Box("xml ", "<gml:RectifiedGrid srsName=\"EPSG:32633\"/>")));
  const std::string pastTheEnd = std::string("\x7F\xFF\xFF\xFF") + gml.substr(4);
  const std::string longPastTheEnd =
      std::string("\0\0\0\x01asoc\x00\x00\x00\x7F\xFF\xFF\xFF\xFF", 16) + gml.substr(8);
  const std::string headerBox = std::string("\x7F\xFF\xFF\xFFjp2h") + Box("free", "x");
  struct TCase {
    const char* name;
    std::string box;
    const char* before;  // the box it goes in front of
    bool decodes;
  };
  for (const TCase& c : {TCase{"32-bit length", pastTheEnd, "jp2c", true},
                         TCase{"64-bit length", longPastTheEnd, "jp2c", true},
                         TCase{"header box", headerBox, "jp2c", false},
                         TCase{"ahead of the header box", pastTheEnd, "jp2h", false}}) {
    SCOPED_TRACE(c.name);
    const fs::path file = FDir / (std::string(c.name) + ".jp2");
    {
      std::ifstream in(whole, std::ios::binary);
      std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      data.insert(data.find(c.before) - 4, c.box);
      std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    TJp2Header header;
    const TJp2HeaderStatus status = ReadJp2Header(file, header, error);
    EXPECT_FALSE(ReadJp2Grid(file).Georeference);
    if (!c.decodes) {
      EXPECT_EQ(status, TJp2HeaderStatus::NotOpened);
      continue;
    }
    ASSERT_EQ(status, TJp2HeaderStatus::Read) << error;
    EXPECT_TRUE(header.BrokenBoxes);
    EXPECT_TRUE(header.IsPlainBand());
    for (unsigned threads : {1u, 2u}) {
      TInterleaved out(300, 200);
      TJp2DecodeOptions options;
      options.Threads = threads;
      ASSERT_TRUE(DecodeJp2Band(file, out.Target(), options, {}, error)) << error;
      EXPECT_EQ(out.Words, reference.Words);
    }
    // Cut just before the codestream box: nothing behind the break, nothing to decode.
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Truncate(file, FDir / "cut.jp2", bytes.find("jp2c\xFF\x4F\xFF\x51") - 4);
    EXPECT_EQ(ReadJp2Header(FDir / "cut.jp2", header, error), TJp2HeaderStatus::NotOpened);
  }
}

// One walk of the boxes gives both the codestream and the grid on the ground: the header carries
// the grid the georeferencing reader finds, also when a broken box behind the GML hides the
// codestream box.
TEST_F(DecoderTest, TheHeaderCarriesTheGridItsBoxesGive) {
  jp2encode::TLayout s;
  s.Width = 64;
  s.Height = 48;
  const fs::path plain = Make("plain.jp2", s);
  using jp2encode::Box;
  const std::string grid =
      "<gml:RectifiedGrid xmlns:gml=\"http://www.opengis.net/gml\"><gml:origin><gml:Point srsName=\"EPSG:32633\">"
      "<gml:pos>300030 5600010</gml:pos></gml:Point></gml:origin><gml:offsetVector>60 0</gml:offsetVector>"
      "<gml:offsetVector>0 -20</gml:offsetVector></gml:RectifiedGrid>";
  const std::string gml =
      Box("asoc", Box("lbl ", "gml.data") + Box("asoc", Box("lbl ", "gml.root-instance") + Box("xml ", grid)));
  const std::string broken = std::string("\x7F\xFF\xFF\xFF") + gml.substr(4);
  const TGridGeoreference expected{32633, 300000, 5600020, 60, 20};
  struct TCase {
    const char* name;
    std::string boxes;  // put in front of the codestream box
    bool brokenBoxes;
    bool georeferenced;
  };
  for (const TCase& c : {TCase{"none", "", false, false}, TCase{"GML", gml, false, true},
                         TCase{"GML, then a broken box", gml + broken, true, true},
                         TCase{"a broken GML box", broken, true, false}}) {
    SCOPED_TRACE(c.name);
    const fs::path file = FDir / (std::string(c.name) + ".jp2");
    {
      std::ifstream in(plain, std::ios::binary);
      std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      data.insert(data.find("jp2c") - 4, c.boxes);
      std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    TJp2Header header;
    std::string error;
    ASSERT_EQ(ReadJp2Header(file, header, error), TJp2HeaderStatus::Read) << error;
    EXPECT_EQ(header.BrokenBoxes, c.brokenBoxes);
    EXPECT_EQ(header.Width, 64u);
    EXPECT_EQ(header.Georeference, ReadJp2Grid(file).Georeference);
    ASSERT_EQ(header.Georeference.has_value(), c.georeferenced);
    if (c.georeferenced) {
      EXPECT_EQ(*header.Georeference, expected);
    }
  }
}

// Patches the image and tile sizes of a one-tile JP2 file in its image header and SIZ segment.
void ClaimSize(const fs::path& path, uint32_t width, uint32_t height) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  std::vector<char> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto put = [&](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<char>(value >> (24 - 8 * i));
  };
  const std::string bytes(data.begin(), data.end());
  const size_t ihdr = bytes.find("ihdr"), siz = bytes.find("\xFF\x4F\xFF\x51");
  ASSERT_NE(ihdr, std::string::npos);
  ASSERT_NE(siz, std::string::npos);
  put(ihdr + 4, height);
  put(ihdr + 8, width);
  put(siz + 8, width);    // Xsiz
  put(siz + 12, height);  // Ysiz
  put(siz + 24, width);   // XTsiz
  put(siz + 28, height);  // YTsiz
  file.seekp(0);
  file.write(data.data(), static_cast<std::streamsize>(data.size()));
}

TEST_F(DecoderTest, RefusesWhatItCannotDecodeFaithfully) {
  std::string error;
  TJp2Header header;
  TInterleaved out(40, 30);
  jp2encode::TLayout s;
  s.Width = 40;
  s.Height = 30;

  // A header claiming 2^31-1 pixels a side in a few hundred bytes: refused before anything
  // is allocated for it.
  const fs::path huge = Make("huge.jp2", s);
  ClaimSize(huge, 0x7FFFFFFF, 0x7FFFFFFF);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadJp2Header(huge, header, error), TJp2HeaderStatus::Impossible);
  EXPECT_NE(error.find("2147483647 x 2147483647"), std::string::npos) << error;
  EXPECT_FALSE(DecodeJp2Band(huge, out.Target(), {}, {}, error));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  // Other kinds: read, but not plain bands, so not decoded here.
  for (const auto& [name, components, precision, isSigned] :
       {std::tuple{"rgb.jp2", 3u, 16u, false}, std::tuple{"signed.jp2", 1u, 16u, true},
        std::tuple{"wide.jp2", 1u, 20u, false}}) {
    SCOPED_TRACE(name);
    jp2encode::TLayout other = s;
    other.Components = components;
    other.Precision = precision;
    other.Signed = isSigned;
    const fs::path file = Make(name, other);
    ASSERT_EQ(ReadJp2Header(file, header, error), TJp2HeaderStatus::Read) << error;
    EXPECT_FALSE(header.IsPlainBand());
    EXPECT_FALSE(DecodeJp2Band(file, out.Target(), {}, {}, error));
  }

  // Not JPEG 2000 at all, or missing.
  std::ofstream(FDir / "text.jp2") << "no picture here";
  EXPECT_EQ(ReadJp2Header(FDir / "text.jp2", header, error), TJp2HeaderStatus::NotOpened);
  EXPECT_EQ(ReadJp2Header(FDir / "absent.jp2", header, error), TJp2HeaderStatus::NotOpened);

  // A plain band asked for more reduction than it has levels, or into a target of another size.
  s.Resolutions = 2;
  const fs::path band = Make("band.jp2", s);
  TJp2DecodeOptions options;
  options.Reduce = 2;
  TInterleaved quarter(10, 8);
  EXPECT_FALSE(DecodeJp2Band(band, quarter.Target(), options, {}, error));
  TInterleaved wrong(41, 30);
  EXPECT_FALSE(DecodeJp2Band(band, wrong.Target(), {}, {}, error));
  EXPECT_EQ(wrong.Touched(), 0u);
  EXPECT_TRUE(DecodeJp2Band(band, out.Target(), {}, {}, error)) << error;
}
}  // namespace
