// The COG writer: every level read back through libtiff against the picture and against means
// computed here, the file's order (directories first, then the smallest level's tiles), the
// plain TIFF's metadata, failures that leave nothing behind, and natively GDAL's validator,
// gdalinfo and GDAL's own averaged overviews.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "CogTestKit.h"
#include "CogWriter.h"
#include "CogWriterLayout.h"
#include "SoftwareTag.h"

using namespace writertest;
using namespace cogtest;

namespace {
// The writers' test picture with no data punched in: single channels, whole pixels and a
// block, so that the means see blocks with 0 to 4 valid samples.
TLevelPicture TestPicture(uint32_t width, uint32_t height) {
  const TPicture source(width, height);
  TLevelPicture picture{width, height, source.Samples};
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t hash = (x * 7 + y * 13) % 11;
      uint16_t* pixel = &picture.Samples[(size_t(y) * width + x) * 3];
      if (hash == 0) pixel[(x + y) % 3] = 0;
      if (hash == 5 || (x >= width / 3 && x < width / 2 && y < height / 4)) pixel[0] = pixel[1] = pixel[2] = 0;
    }
  return picture;
}

TRowView ViewOf(const TLevelPicture& picture, uint32_t first, uint32_t count) {
  return {reinterpret_cast<const uint8_t*>(picture.Samples.data() + size_t(first) * picture.Width * 3),
          ptrdiff_t(picture.Width) * 6, picture.Width, count};
}

TGeoTiffTags SampleGeoTiff() {
  TGeoTiffTags geo;
  geo.PixelScale[0] = geo.PixelScale[1] = 10;
  geo.Tiepoint[3] = 300000;
  geo.Tiepoint[4] = 5000040;
  geo.GeoKeys = {1, 1, 0, 4, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 32633, 3076, 0, 1, 9001};
  geo.GeoAsciiParams = "WGS 84 / UTM zone 33N|";
  return geo;
}
TImageMetadata SampleMetadata() {
  TImageMetadata metadata;
  metadata.Description = "Contains modified Copernicus Sentinel data 2025";
  metadata.Software = "Bandweave --tiff --cog";
  metadata.GeoTiff = SampleGeoTiff();
  metadata.GdalNoData = "0";
  return metadata;
}

// Writes picture as a COG at target, handing it over in bands of the given heights in turn.
bool SaveCog(const TLevelPicture& picture, const fs::path& target, const TImageMetadata& metadata, unsigned workers,
             const std::vector<uint32_t>& bands) {
  auto file = TTempFile::CreateBeside(target);
  if (!file) return false;
  TCogWriter writer(*file, target, picture.Width, picture.Height, metadata, workers);
  for (uint32_t y = 0, k = 0; y < picture.Height; ++k) {
    const uint32_t count = std::min(bands[k % bands.size()], picture.Height - y);
    if (!writer.Put(ViewOf(picture, y, count))) return false;
    y += count;
  }
  return writer.Finish() && file->CommitTo(target);
}
bool SaveCog(const TLevelPicture& picture, const fs::path& target, const TImageMetadata& metadata = {}) {
  return SaveCog(picture, target, metadata, 0, {picture.Height});
}

// Every level read back equals the picture and the means of the level below, in the order
// and at the places a COG needs.
void ExpectCogHolds(const fs::path& file, const TLevelPicture& picture) {
  const auto sizes = TCogWriter::LevelSizes(picture.Width, picture.Height);
  TTiff tif = OpenTiff(file);
  ASSERT_TRUE(tif);
  ASSERT_EQ(TIFFNumberOfDirectories(tif.get()), sizes.size());
  TLevelPicture expected = picture;
  for (size_t k = 0; k < sizes.size(); ++k) {
    if (k > 0) expected = HalvedReference(expected);
    ASSERT_EQ(std::make_pair(expected.Width, expected.Height), sizes[k]);
    ExpectSamePicture(ReadTiledLevel(tif.get(), tdir_t(k)), expected, "level " + std::to_string(k));
    uint16_t predictor = 0, compression = 0;
    uint32_t subfile = 0;
    EXPECT_TRUE(TIFFGetField(tif.get(), TIFFTAG_PREDICTOR, &predictor) && predictor == PREDICTOR_HORIZONTAL);
    EXPECT_TRUE(TIFFGetField(tif.get(), TIFFTAG_COMPRESSION, &compression) && compression == COMPRESSION_ADOBE_DEFLATE);
    TIFFGetField(tif.get(), TIFFTAG_SUBFILETYPE, &subfile);
    EXPECT_EQ(subfile, k ? uint32_t(FILETYPE_REDUCEDIMAGE) : 0u);
  }
  // Directories first, then the tiles: the smallest level's first, each level's row by row,
  // the full picture's last and ending the file.
  const std::string bytes = ReadAll(file);
  const std::vector<TRawDirectory> directories = RawDirectories(bytes);
  ASSERT_EQ(directories.size(), sizes.size());
  uint64_t end = 0;
  for (const TRawDirectory& directory : directories) end = std::max(end, directory.Offset);
  bool first = true;
  for (size_t k = directories.size(); k-- > 0;) {
    const std::vector<uint64_t> offsets = directories[k].Numbers(324), counts = directories[k].Numbers(325);
    ASSERT_EQ(offsets.size(), counts.size());
    for (size_t i = 0; i < offsets.size(); ++i) {
      if (first) EXPECT_GT(offsets[i], end) << "level " << k << " tile " << i;
      else EXPECT_EQ(offsets[i], end + 1 + 4) << "level " << k << " tile " << i;
      first = false;
      // Each tile between its size and a copy of its last 4 bytes, as the header's note says.
      EXPECT_EQ(Le(bytes, offsets[i] - 4, 4), counts[i]);
      EXPECT_EQ(bytes.substr(offsets[i] + counts[i], 4), bytes.substr(offsets[i] + counts[i] - 4, 4));
      end = offsets[i] + counts[i] + 4 - 1;
    }
  }
  EXPECT_EQ(end + 1, bytes.size());
}

struct TSize {
  uint32_t Width, Height;
};
}  // namespace

TEST(CogWriter, EveryLevelHoldsThePictureOrTheValidMeansBelowIt) {
  const fs::path folder = FreshFolder("cog-levels");
  // One tile; exactly one tile; one pixel over in each direction; 1-pixel edges on every level
  // (1025 -> 513 -> 257); a row; a column; a picture of several tile rows of each level.
  for (const TSize size : {TSize{1, 1}, TSize{512, 512}, TSize{513, 513}, TSize{1025, 3}, TSize{2, 1300},
                           TSize{1100, 700}}) {
    SCOPED_TRACE(std::to_string(size.Width) + " x " + std::to_string(size.Height));
    const TLevelPicture picture = TestPicture(size.Width, size.Height);
    // Bands of rows that fall across the tile rows' edges.
    ASSERT_TRUE(SaveCog(picture, folder / "out.tif", {}, 0, {1, 300, 7, 511}));
    ExpectCogHolds(folder / "out.tif", picture);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"out.tif"}) << "the spill file is gone";
  }
  fs::remove_all(folder);
}

TEST(CogWriter, TheSameBytesForAnyWorkerCountAndAnyBandsOfRows) {
  const fs::path folder = FreshFolder("cog-same");
  const TLevelPicture picture = TestPicture(1030, 600);
  ASSERT_TRUE(SaveCog(picture, folder / "a.tif", SampleMetadata(), 1, {picture.Height}));
  ASSERT_TRUE(SaveCog(picture, folder / "b.tif", SampleMetadata(), 3, {1}));
  // Tiled partly from the caller's rows, partly from copies: a row of tiles begun in one band
  // and ended in the next.
  ASSERT_TRUE(SaveCog(picture, folder / "c.tif", SampleMetadata(), 2, {300, 1024}));
  EXPECT_TRUE(ReadAll(folder / "a.tif") == ReadAll(folder / "b.tif"));
  EXPECT_TRUE(ReadAll(folder / "a.tif") == ReadAll(folder / "c.tif"));
  fs::remove_all(folder);
}

TEST(CogWriter, CarriesEveryTagOfThePlainTiffBesideItsOwn) {
  const fs::path folder = FreshFolder("cog-tags");
  const TLevelPicture picture = TestPicture(600, 40);
  const TImageMetadata metadata = SampleMetadata();
  ASSERT_TRUE(SaveCog(picture, folder / "cog.tif", metadata));
  {
    auto file = TTempFile::CreateBeside(folder / "plain.tif");
    ASSERT_TRUE(file);
    ASSERT_TRUE(WriteTiff48(*file, ViewOf(picture, 0, picture.Height), metadata, {}));
    ASSERT_TRUE(file->CommitTo(folder / "plain.tif"));
  }
  const auto plain = RawDirectories(ReadAll(folder / "plain.tif"));
  const auto cog = RawDirectories(ReadAll(folder / "cog.tif"));
  ASSERT_EQ(plain.size(), 1u);
  ASSERT_EQ(cog.size(), 2u);
  // Whatever the plain writer says about the picture, the COG says too, byte for byte; only
  // how the samples are stored may differ.
  const std::set<uint16_t> storage = {254, 256, 257, 273, 278, 279, 322, 323, 324, 325};
  for (const auto& [tag, entry] : plain[0].Entries) {
    if (storage.count(tag)) continue;
    const auto it = cog[0].Entries.find(tag);
    ASSERT_NE(it, cog[0].Entries.end()) << "tag " << tag << " missing";
    EXPECT_EQ(it->second.Type, entry.Type) << "tag " << tag;
    EXPECT_EQ(it->second.Count, entry.Count) << "tag " << tag;
    EXPECT_EQ(it->second.Bytes, entry.Bytes) << "tag " << tag;
  }
  // The record of what made it, where a later run looks for it.
  EXPECT_EQ(ReadSoftwareTag(folder / "cog.tif"), metadata.Software);
  // The overview is placed by the full picture's georeferencing and tells its no data itself.
  EXPECT_EQ(cog[1].Entries.count(33550), 0u);
  EXPECT_EQ(cog[1].Entries.at(42113).Bytes, std::string("0", 2));
  EXPECT_EQ(cog[1].Numbers(254), std::vector<uint64_t>{1});
  fs::remove_all(folder);
}

TEST(CogWriter, WrongRowCountsAndFullDisksFailAndLeaveNothing) {
  const fs::path folder = FreshFolder("cog-fail");
  const TLevelPicture picture = TestPicture(700, 600);
  {
    auto file = TTempFile::CreateBeside(folder / "out.tif");
    TCogWriter writer(*file, folder / "out.tif", picture.Width, picture.Height, {});
    EXPECT_TRUE(writer.Put(ViewOf(picture, 0, 599)));
    EXPECT_FALSE(writer.Finish()) << "a row short";
  }
  {
    auto file = TTempFile::CreateBeside(folder / "out.tif");
    TCogWriter writer(*file, folder / "out.tif", picture.Width, picture.Height, {});
    EXPECT_TRUE(writer.Put(ViewOf(picture, 0, 599)));
    EXPECT_FALSE(writer.Put(ViewOf(picture, 0, 2))) << "a row too many";
    EXPECT_FALSE(writer.Put(ViewOf(picture, 0, 1))) << "failed stays failed";
    EXPECT_FALSE(writer.Finish());
  }
  {
    auto file = TTempFile::CreateBeside(folder / "out.tif");
    TCogWriter writer(*file, folder / "out.tif", picture.Width, picture.Height, {});
    TLevelPicture narrow = TestPicture(699, 1);
    EXPECT_FALSE(writer.Put(ViewOf(narrow, 0, 1))) << "another width";
  }
  {
    auto file = TTempFile::CreateBeside(folder / "out.tif");
    TCogWriter writer(*file, folder / "out.tif", 0, 10, {});
    EXPECT_FALSE(writer.Finish()) << "an empty picture";
  }
  // A disk that fills up while the spill file grows, or while the tiles are copied into place.
  for (const int64_t limit : {int64_t(100000), int64_t(1500000)}) {
    tempFileTesting::SetWriteLimit(limit);
    EXPECT_FALSE(SaveCog(picture, folder / "out.tif")) << "limit " << limit;
    tempFileTesting::SetWriteLimit(-1);
  }
  EXPECT_TRUE(FolderEntries(folder).empty());
  fs::remove_all(folder);
}

TEST(CogWriter, BigTiffOnlyBeyondClassicTiffsReach) {
  std::vector<TCogLevel> levels{{1024, 512, {3'000'000'000ull, 1'000'000'000ull}}, {512, 256, {1000}}};
  TCogLayout layout = LayOutCog(levels, 512, {});
  EXPECT_FALSE(layout.Big);
  levels[0].TileBytes[1] = 1'400'000'000ull;
  layout = LayOutCog(levels, 512, {});
  ASSERT_TRUE(layout.Big);
  const std::string front(layout.Front.begin(), layout.Front.end());
  EXPECT_EQ(Le(front, 2, 2), 43u);
  // The offsets point past the front: the smallest level first, the full picture's last.
  const std::vector<TRawDirectory> directories = RawDirectories(front);
  ASSERT_EQ(directories.size(), 2u);
  // Each tile's data between its 4-byte size and a copy of its last 4 bytes.
  EXPECT_EQ(directories[1].Numbers(324), std::vector<uint64_t>{front.size() + 4});
  EXPECT_EQ(directories[0].Numbers(324),
            (std::vector<uint64_t>{front.size() + 1012, front.size() + 3'000'001'020ull}));
}

#if !defined(_WIN32)
namespace {
// A command's output (stdout and stderr) and its exit status.
std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return {};
  char buffer[4096];
  while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
  const int result = pclose(pipe);
  if (status) *status = result;
  return output;
}
const char* const kValidator = "/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py";
bool GdalPresent() {
  return std::system("gdalinfo --version >/dev/null 2>&1") == 0 && fs::exists("/usr/bin/python3") &&
         fs::exists(kValidator);
}
std::vector<std::string> Checksums(const std::string& info) {
  std::vector<std::string> sums;
  for (size_t at = info.find("Checksum="); at != std::string::npos; at = info.find("Checksum=", at + 1))
    sums.push_back(info.substr(at, info.find('\n', at) - at));
  return sums;
}
}  // namespace

TEST(CogWriter, GdalCallsItValidListsItsOverviewsAndReadsThePlainTiffsSamples) {
  if (!GdalPresent()) GTEST_SKIP() << "GDAL or its COG validator is not installed";
  const fs::path folder = FreshFolder("cog-gdal");
  const TImageMetadata metadata = SampleMetadata();
  for (const TSize size : {TSize{1, 1}, TSize{1025, 1030}, TSize{2048, 600}}) {
    SCOPED_TRACE(std::to_string(size.Width) + " x " + std::to_string(size.Height));
    const TLevelPicture picture = TestPicture(size.Width, size.Height);
    ASSERT_TRUE(SaveCog(picture, folder / "cog.tif", metadata));
    auto file = TTempFile::CreateBeside(folder / "plain.tif");
    ASSERT_TRUE(file && WriteTiff48(*file, ViewOf(picture, 0, picture.Height), metadata, {}));
    ASSERT_TRUE(file->CommitTo(folder / "plain.tif"));

    int status = -1;
    const std::string verdict = RunCommand(std::string("/usr/bin/python3 ") + kValidator + " '" +
                                           (folder / "cog.tif").string() + "'", &status);
    EXPECT_EQ(status, 0) << verdict;
    EXPECT_NE(verdict.find("is a valid cloud optimized GeoTIFF"), std::string::npos) << verdict;
    EXPECT_EQ(verdict.find("arning"), std::string::npos) << verdict;

    const std::string info = RunCommand("gdalinfo -checksum '" + (folder / "cog.tif").string() + "'");
    const std::string plainInfo = RunCommand("gdalinfo -checksum '" + (folder / "plain.tif").string() + "'");
    ASSERT_FALSE(Checksums(info).empty()) << info;
    EXPECT_EQ(Checksums(info), Checksums(plainInfo));
    std::string overviews;
    for (const auto& [w, h] : TCogWriter::LevelSizes(size.Width, size.Height))
      if (w != size.Width || h != size.Height)
        overviews += (overviews.empty() ? "" : ", ") + std::to_string(w) + "x" + std::to_string(h);
    if (!overviews.empty()) {
      EXPECT_NE(info.find("Overviews: " + overviews + "\n"), std::string::npos) << info;
    }
    EXPECT_NE(info.find("LAYOUT=COG"), std::string::npos) << info;
    EXPECT_NE(info.find("UTM zone 33N"), std::string::npos) << info;
    EXPECT_NE(info.find("NoData Value=0"), std::string::npos) << info;
    EXPECT_NE(info.find("Contains modified Copernicus Sentinel data"), std::string::npos) << info;
  }
  fs::remove_all(folder);
}

TEST(CogWriter, ItsFirstOverviewIsGdalsAverageWithNoData) {
  if (!GdalPresent()) GTEST_SKIP() << "GDAL is not installed";
  const fs::path folder = FreshFolder("cog-gdal-average");
  // Even sizes: GDAL's COG driver halves odd sizes rounding down and averages over windows of
  // other than 2 x 2 pixels then.
  const TLevelPicture picture = TestPicture(1100, 700);
  ASSERT_TRUE(SaveCog(picture, folder / "cog.tif", SampleMetadata()));
  const std::string output = RunCommand("gdal_translate -q -of COG -co COMPRESS=DEFLATE -co RESAMPLING=AVERAGE '" +
                                        (folder / "cog.tif").string() + "' '" + (folder / "gdal.tif").string() + "'");
  TTiff ours = OpenTiff(folder / "cog.tif"), gdals = OpenTiff(folder / "gdal.tif");
  ASSERT_TRUE(ours && gdals) << output;
  ExpectSamePicture(ReadTiledLevel(gdals.get(), 1), ReadTiledLevel(ours.get(), 1), "GDAL's first overview");
  fs::remove_all(folder);
}
#endif
