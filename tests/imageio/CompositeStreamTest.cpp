// The row-by-row composite against each band decoded whole: every sample of every band in its
// word, for tilings whose last row and column are short, pictures offset on the grid, and
// reductions; which band sets may stream at all; and failures part way (a band cut short, a
// writer that gives up), after which the sink is never finished.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "CompositeStream.h"
#include "Jp2BandDecoder.h"
#include "Jp2Header.h"
#include "Jp2Encode.h"
#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {
int32_t Noise(uint32_t precision, uint32_t seed, uint32_t x, uint32_t y) {
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ (seed + 1) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 13;
  return static_cast<int32_t>(h & ((1u << precision) - 1));
}

// Keeps every row put, and how the rows came.
class TCollectingSink : public TRowSink {
 public:
  uint32_t Width = 0;
  std::vector<uint16_t> Samples;
  std::vector<uint32_t> Chunks;  // heights of the Put calls
  int FailAtPut = -1;            // this Put (0 the first) fails
  bool Finished = false;
  std::thread::id Thread;

  bool Put(const TRowView& rows) override {
    if (FailAtPut == static_cast<int>(Chunks.size())) return false;
    Width = rows.Width;
    Thread = std::this_thread::get_id();
    Chunks.push_back(rows.Height);
    for (uint32_t y = 0; y < rows.Height; ++y) Samples.insert(Samples.end(), rows.Row(y), rows.Row(y) + rows.Width * 3);
    return true;
  }
  bool Finish() override { return Finished = true; }
};

class CompositeStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = testenv::FreshPrivateFolder("bandweave-stream-");
  }
  void TearDown() override { fs::remove_all(FDir); }

  // Red, green and blue of one layout, each with values of its own.
  void MakeBands(const jp2encode::TLayout& layout, fs::path (&bands)[3]) {
    for (uint32_t b = 0; b < 3; ++b) {
      bands[b] = FDir / ("band" + std::to_string(b) + ".jp2");
      ASSERT_TRUE(jp2encode::Write(bands[b], layout, [&](uint32_t, uint32_t x, uint32_t y) {
        return Noise(layout.Precision, b, x, y);
      }));
    }
  }
  fs::path FDir;
};

jp2encode::TLayout Tiled(uint32_t width, uint32_t height, uint32_t tile) {
  jp2encode::TLayout layout;
  layout.Width = width;
  layout.Height = height;
  layout.TileWidth = layout.TileHeight = tile;
  return layout;
}

// Each band decoded whole at the reduction: the reference.
std::vector<uint16_t> WholeBand(const fs::path& path, unsigned reduce, uint32_t width, uint32_t height) {
  std::vector<uint16_t> samples(size_t{width} * height);
  TSampleTarget target;
  target.Width = width;
  target.Height = height;
  target.Row = [&](uint32_t y) { return samples.data() + size_t{y} * width; };
  TJp2DecodeOptions options;
  options.Reduce = reduce;
  std::string error;
  EXPECT_TRUE(DecodeJp2Band(path, target, options, {}, error)) << error;
  return samples;
}

// Starts the three bands and streams them into a collecting sink.
TCompositeStream::TResult Stream(const fs::path (&bands)[3], unsigned reduce, unsigned threads, TCollectingSink& sink,
                                 const TWorkCallbacks& callbacks = {}) {
  TCompositeStream stream(bands, reduce, threads);
  for (int b = 0; b < 3; ++b) {
    std::string error;
    EXPECT_TRUE(stream.StartBand(b, callbacks, error)) << error;
  }
  return stream.WriteTo(sink, callbacks);
}
}  // namespace

TEST_F(CompositeStreamTest, EverySampleAsEachBandDecodedWhole) {
  struct TCase {
    const char* Name;
    jp2encode::TLayout Layout;
    unsigned Reduce;
  };
  jp2encode::TLayout offset = Tiled(190, 150, 64);
  offset.X0 = 37;  // the first tiles start left of and above the picture
  offset.Y0 = 21;
  jp2encode::TLayout thin = Tiled(5, 300, 32);  // one tile across, many down
  jp2encode::TLayout pixels = Tiled(3, 2, 1);   // a tile per pixel
  pixels.Resolutions = 1;
  const TCase cases[] = {
      {"short last row and column", Tiled(300, 200, 64), 0},
      {"reduced by one", Tiled(300, 200, 64), 1},
      {"reduced by two", Tiled(301, 203, 64), 2},
      {"offset on the grid", offset, 0},
      {"offset, reduced", offset, 1},
      {"one tile across", thin, 0},
      {"a tile per pixel", pixels, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::path bands[3];
    MakeBands(c.Layout, bands);
    TJp2Header header;
    std::string error;
    ASSERT_EQ(ReadJp2Header(bands[0], header, error), TJp2HeaderStatus::Read);
    const uint32_t width = header.WidthAt(c.Reduce), height = header.HeightAt(c.Reduce);
    for (const unsigned threads : {1u, 3u}) {
      TCollectingSink sink;
      const TCompositeStream::TResult result = Stream(bands, c.Reduce, threads, sink);
      ASSERT_EQ(result.Kind, TCompositeStream::TResult::Written) << result.Error;
      EXPECT_TRUE(sink.Finished);
      ASSERT_EQ(sink.Width, width);
      ASSERT_EQ(sink.Samples.size(), size_t{width} * height * 3);
      // One Put per row of tiles.
      EXPECT_EQ(sink.Chunks.size(), header.TilesDown) << "threads " << threads;
      for (int b = 0; b < 3; ++b) {
        const std::vector<uint16_t> whole = WholeBand(bands[b], c.Reduce, width, height);
        size_t wrong = 0;
        for (size_t i = 0; i < whole.size(); ++i) wrong += sink.Samples[i * 3 + b] != whole[i];
        EXPECT_EQ(wrong, 0u) << "band " << b << ", threads " << threads;
      }
    }
  }
}

TEST_F(CompositeStreamTest, OnlyLinedUpBandsOfSeveralTilesStream) {
  TJp2Header headers[3];
  for (TJp2Header& header : headers) {
    header.Components = 1;
    header.Precision = 15;
    header.Width = 300, header.Height = 200;
    header.TileWidth = header.TileHeight = 64;
    header.TilesAcross = 5, header.TilesDown = 4;
    header.Resolutions = 5;
  }
  std::string why;
  EXPECT_TRUE(CanStreamBands(headers, 4, why)) << why;
  EXPECT_FALSE(CanStreamBands(headers, 5, why));  // no such resolution level
  TJp2Header shifted[3] = {headers[0], headers[1], headers[2]};
  shifted[2].TileX0 = 1;
  EXPECT_FALSE(CanStreamBands(shifted, 0, why));
  EXPECT_EQ(why, "the bands' tiles do not line up");
  TJp2Header taller[3] = {headers[0], headers[1], headers[2]};
  taller[1].TileHeight = 128;
  EXPECT_FALSE(CanStreamBands(taller, 0, why));
  TJp2Header one[3] = {headers[0], headers[1], headers[2]};
  for (TJp2Header& header : one) header.TilesAcross = header.TilesDown = 1;
  EXPECT_FALSE(CanStreamBands(one, 0, why));
  EXPECT_EQ(why, "the code streams have one tile");
  TJp2Header rgb[3] = {headers[0], headers[1], headers[2]};
  rgb[0].Components = 3;
  EXPECT_FALSE(CanStreamBands(rgb, 0, why));

  // Files whose tilings differ in a way the headers alone would pass refuse at the band's start.
  fs::path bands[3];
  MakeBands(Tiled(300, 200, 64), bands);
  ASSERT_TRUE(jp2encode::Write(bands[1], Tiled(300, 200, 128), [](uint32_t, uint32_t x, uint32_t) { return x; }));
  TCompositeStream stream(bands, 0, 2);
  std::string error;
  EXPECT_TRUE(stream.StartBand(0, {}, error)) << error;
  EXPECT_FALSE(stream.StartBand(1, {}, error));
  EXPECT_EQ(error, "its tiles do not line up with those of red");
  TCollectingSink sink;
  EXPECT_EQ(stream.WriteTo(sink, {}).Kind, TCompositeStream::TResult::SinkFailed);
  EXPECT_TRUE(sink.Chunks.empty());
}

TEST_F(CompositeStreamTest, ABandCutShortFailsPartWayAndTheSinkIsNeverFinished) {
  fs::path bands[3];
  MakeBands(Tiled(300, 260, 64), bands);
  // Green loses its last rows of tiles: its first row still decodes.
  {
    std::ifstream in(bands[1], std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::ofstream(bands[1], std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size() * 6 / 10);
  }
  for (const unsigned threads : {1u, 2u}) {
    TCollectingSink sink;
    const TCompositeStream::TResult result = Stream(bands, 0, threads, sink);
    EXPECT_EQ(result.Kind, TCompositeStream::TResult::BandFailed);
    EXPECT_EQ(result.Band, 1);
    EXPECT_FALSE(result.Error.empty());
    EXPECT_FALSE(sink.Finished);
    EXPECT_LT(sink.Samples.size(), size_t{300} * 260 * 3);
  }
}

TEST_F(CompositeStreamTest, AWriterThatFailsStopsTheDecodingAndCallbacksStayOnTheCaller) {
  fs::path bands[3];
  MakeBands(Tiled(200, 400, 32), bands);
  const auto caller = std::this_thread::get_id();
  bool elsewhere = false;
  int keepAlives = 0;
  uint64_t lastDone = 0;
  bool backwards = false;
  TWorkCallbacks callbacks;
  callbacks.KeepAlive = [&] {
    ++keepAlives;
    elsewhere |= std::this_thread::get_id() != caller;
  };
  callbacks.Progress = [&](uint64_t done, uint64_t) {
    elsewhere |= std::this_thread::get_id() != caller;
    backwards |= done < lastDone;
    lastDone = done;
  };
  TCompositeStream stream(bands, 0, 2);
  std::string error;
  for (int b = 0; b < 3; ++b) ASSERT_TRUE(stream.StartBand(b, callbacks, error)) << error;
  TCollectingSink sink;
  sink.FailAtPut = 3;
  const TCompositeStream::TResult result = stream.WriteTo(sink, callbacks);
  EXPECT_EQ(result.Kind, TCompositeStream::TResult::SinkFailed);
  EXPECT_EQ(sink.Chunks.size(), 3u);
  EXPECT_FALSE(sink.Finished);
  EXPECT_NE(sink.Thread, caller);  // the writer has a thread of its own
  EXPECT_FALSE(elsewhere);
  EXPECT_FALSE(backwards);
  EXPECT_GE(keepAlives, 4);  // at least once while each band starts and once while writing
}

TEST_F(CompositeStreamTest, AWindowIsTheWholeCompositeCutAndDecodesOnlyTheTilesItMeets) {
  struct TCase {
    const char* Name;
    jp2encode::TLayout Layout;
    unsigned Reduce;
    TPixelWindow Window;
    uint32_t TilesAcross;  // of the window
  };
  jp2encode::TLayout offset = Tiled(190, 150, 64);
  offset.X0 = 37;
  offset.Y0 = 21;
  const TCase cases[] = {
      {"inside one tile", Tiled(301, 203, 64), 0, {70, 70, 20, 30}, 1},
      {"across four tiles", Tiled(301, 203, 64), 0, {50, 60, 30, 10}, 2},
      {"the short last tiles", Tiled(301, 203, 64), 0, {250, 150, 51, 53}, 2},
      {"one pixel", Tiled(301, 203, 64), 0, {300, 0, 1, 1}, 1},
      {"reduced by two", Tiled(301, 203, 64), 2, {10, 20, 40, 31}, 4},
      {"offset on the grid", offset, 0, {20, 40, 30, 50}, 2},
      {"everything", Tiled(301, 203, 64), 1, {0, 0, 151, 102}, 5},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::path bands[3];
    MakeBands(c.Layout, bands);
    TJp2Header header;
    std::string error;
    ASSERT_EQ(ReadJp2Header(bands[0], header, error), TJp2HeaderStatus::Read);
    const uint32_t width = header.WidthAt(c.Reduce), height = header.HeightAt(c.Reduce);
    const TPixelWindow& w = c.Window;
    TCompositeStream stream(bands, c.Reduce, 2);
    stream.SetWindow(w);
    uint64_t tilesToStart = 0;
    TWorkCallbacks callbacks;
    callbacks.Progress = [&](uint64_t, uint64_t total) { tilesToStart = std::max(tilesToStart, total); };
    for (int b = 0; b < 3; ++b) ASSERT_TRUE(stream.StartBand(b, callbacks, error)) << error;
    EXPECT_EQ(tilesToStart, c.TilesAcross) << "a band starts with the tiles of the first row the window meets";
    EXPECT_EQ(stream.Width(), w.Width);
    EXPECT_EQ(stream.Height(), w.Height);
    TCollectingSink sink;
    const TCompositeStream::TResult result = stream.WriteTo(sink, {});
    ASSERT_EQ(result.Kind, TCompositeStream::TResult::Written) << result.Error;
    ASSERT_EQ(sink.Samples.size(), size_t{w.Width} * w.Height * 3);
    for (int b = 0; b < 3; ++b) {
      const std::vector<uint16_t> whole = WholeBand(bands[b], c.Reduce, width, height);
      size_t wrong = 0;
      for (uint32_t y = 0; y < w.Height; ++y)
        for (uint32_t x = 0; x < w.Width; ++x)
          wrong += sink.Samples[(size_t{y} * w.Width + x) * 3 + b] != whole[size_t{w.Row + y} * width + w.Col + x];
      EXPECT_EQ(wrong, 0u) << "band " << b;
    }
  }
  // A window beyond the picture is refused before anything decodes.
  fs::path bands[3];
  MakeBands(Tiled(100, 80, 32), bands);
  for (const TPixelWindow& outside : {TPixelWindow{100, 0, 1, 1}, TPixelWindow{90, 70, 11, 5}, TPixelWindow{0, 0, 0, 5}}) {
    TCompositeStream stream(bands, 0, 1);
    stream.SetWindow(outside);
    std::string error;
    EXPECT_FALSE(stream.StartBand(0, {}, error));
    EXPECT_EQ(error, "the window lies outside the picture");
  }
}
