// The TIFF and PNG writers: every sample back through libtiff, libpng, FreeImage and GDAL, at
// sizes that stress the strip and block edges, the same bytes for any worker count, the
// metadata tags, and failures that must not leave anything behind.
#include <FreeImage.h>
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <cstring>
#include <memory>
#include <thread>
#include <type_traits>

#include "WriterTestKit.h"

using namespace writertest;

namespace {
// Compares a read-back picture row by row; reports the first few differences only.
class TComparison {
 public:
  explicit TComparison(const TPicture& picture) : FPicture(picture) {}
  void Row(uint32_t y, const uint16_t* samples) {
    for (uint32_t x = 0; x < FPicture.Width && FMismatches < 3; ++x)
      for (int c = 0; c < 3; ++c)
        if (samples[x * 3 + c] != FPicture.At(x, y, c)) {
          ++FMismatches;
          ADD_FAILURE() << "sample " << x << "," << y << "," << c << ": " << samples[x * 3 + c] << ", expected "
                        << FPicture.At(x, y, c);
        }
  }

 private:
  const TPicture& FPicture;
  int FMismatches = 0;
};

FILE* OpenFile(const fs::path& path);

// Through stdio rather than TIFFOpen: the Windows FreeImage brings a TIFFOpen of its own.
tmsize_t TiffRead(thandle_t file, void* data, tmsize_t size) {
  return static_cast<tmsize_t>(std::fread(data, 1, static_cast<size_t>(size), static_cast<FILE*>(file)));
}
tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t TiffSeek(thandle_t file, toff_t offset, int whence) {
#if defined(_WIN32)
  if (_fseeki64(static_cast<FILE*>(file), static_cast<int64_t>(offset), whence) != 0) return toff_t(-1);
  return static_cast<toff_t>(_ftelli64(static_cast<FILE*>(file)));
#else
  if (fseeko(static_cast<FILE*>(file), static_cast<off_t>(offset), whence) != 0) return toff_t(-1);
  return static_cast<toff_t>(ftello(static_cast<FILE*>(file)));
#endif
}
int TiffClose(thandle_t file) { return std::fclose(static_cast<FILE*>(file)); }
toff_t TiffSize(thandle_t file) {
  FILE* f = static_cast<FILE*>(file);
  const toff_t at = TiffSeek(f, 0, SEEK_CUR), end = TiffSeek(f, 0, SEEK_END);
  TiffSeek(f, at, SEEK_SET);
  return end;
}
int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}

TIFF* OpenTiff(const fs::path& path) {
  FILE* file = OpenFile(path);
  if (!file) return nullptr;
  TIFF* tif = TIFFClientOpen("test", "r", file, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap, TiffUnmap);
  if (!tif) std::fclose(file);
  return tif;
}

FILE* OpenFile(const fs::path& path) {
#if defined(_WIN32)
  return _wfopen(path.c_str(), L"rb");
#else
  return std::fopen(path.c_str(), "rb");
#endif
}

void ExpectTiffHolds(const fs::path& path, const TPicture& picture) {
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(OpenTiff(path), TIFFClose);
  ASSERT_TRUE(tif) << path;
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, spp = 0, compression = 0;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
  TIFFGetField(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(tif.get(), TIFFTAG_COMPRESSION, &compression);
  ASSERT_EQ(width, picture.Width);
  ASSERT_EQ(height, picture.Height);
  EXPECT_EQ(bits, 16);
  EXPECT_EQ(spp, 3);
  EXPECT_EQ(compression, COMPRESSION_ADOBE_DEFLATE);
  ASSERT_EQ(TIFFScanlineSize64(tif.get()), uint64_t(width) * 6);
  std::vector<uint16_t> row(size_t(width) * 3);
  TComparison compare(picture);
  for (uint32_t y = 0; y < height; ++y) {
    ASSERT_EQ(TIFFReadScanline(tif.get(), row.data(), y, 0), 1) << "row " << y;
    compare.Row(y, row.data());
  }
}

struct TPngRead {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  FILE* File = nullptr;
  ~TPngRead() {
    png_destroy_read_struct(&Png, &Info, nullptr);
    if (File) std::fclose(File);
  }
};

// Reads the PNG with libpng; returns its "Description" text ("" when there is none).
std::string ExpectPngHolds(const fs::path& path, const TPicture& picture) {
  TPngRead read;
  read.File = OpenFile(path);
  EXPECT_TRUE(read.File) << path;
  if (!read.File) return {};
  read.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  read.Info = png_create_info_struct(read.Png);
  if (setjmp(png_jmpbuf(read.Png))) {
    ADD_FAILURE() << "libpng rejected " << path;
    return {};
  }
  png_init_io(read.Png, read.File);
  png_read_info(read.Png, read.Info);
  EXPECT_EQ(png_get_image_width(read.Png, read.Info), picture.Width);
  EXPECT_EQ(png_get_image_height(read.Png, read.Info), picture.Height);
  EXPECT_EQ(png_get_bit_depth(read.Png, read.Info), 16);
  EXPECT_EQ(png_get_color_type(read.Png, read.Info), PNG_COLOR_TYPE_RGB);
  if (png_get_image_width(read.Png, read.Info) != picture.Width) return {};
  png_set_swap(read.Png);  // host order (the tests run on little-endian machines)
  std::vector<uint16_t> row(size_t(picture.Width) * 3);
  TComparison compare(picture);
  for (uint32_t y = 0; y < picture.Height; ++y) {
    png_read_row(read.Png, reinterpret_cast<png_bytep>(row.data()), nullptr);
    compare.Row(y, row.data());
  }
  // The end reads the rest of the stream: a wrong Adler-32 or a missing IEND fails here.
  png_read_end(read.Png, read.Info);
  png_textp texts = nullptr;
  int count = 0;
  png_get_text(read.Png, read.Info, &texts, &count);
  for (int i = 0; i < count; ++i)
    if (std::string(texts[i].key) == "Description") return std::string(texts[i].text);
  return {};
}

void ExpectFreeImageHolds(const fs::path& path, const TPicture& picture) {
#if defined(_WIN32)
  FIBITMAP* image = FreeImage_LoadU(FreeImage_GetFileTypeU(path.c_str(), 0), path.c_str(), 0);
#else
  FIBITMAP* image = FreeImage_Load(FreeImage_GetFileType(path.c_str(), 0), path.c_str(), 0);
#endif
  ASSERT_TRUE(image) << path;
  std::unique_ptr<FIBITMAP, void (*)(FIBITMAP*)> owned(image, FreeImage_Unload);
  ASSERT_EQ(FreeImage_GetImageType(image), FIT_RGB16);
  ASSERT_EQ(FreeImage_GetWidth(image), picture.Width);
  ASSERT_EQ(FreeImage_GetHeight(image), picture.Height);
  TComparison compare(picture);
  for (uint32_t y = 0; y < picture.Height; ++y)
    compare.Row(y, reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(image, int(picture.Height - 1 - y))));
}

class FreeImageEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { FreeImage_Initialise(FALSE); }
  void TearDown() override { FreeImage_DeInitialise(); }
};
[[maybe_unused]] auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new FreeImageEnvironment);

// 1 x 1, one row, one column, and a picture whose rows fill several TIFF strips (about 2 MiB)
// and PNG blocks (about 1 MiB), with a short one at the end.
const std::pair<uint32_t, uint32_t> kSizes[] = {{1, 1}, {7, 1}, {1, 5}, {1000, 1111}};
}  // namespace

TEST(ImageWriters, EverySampleReadsBackThroughLibtiffLibpngAndFreeImage) {
  const fs::path folder = FreshFolder("roundtrip");
  for (const auto& [width, height] : kSizes) {
    const TPicture picture(width, height);
    const THeldPicture held = Hold(picture, /*bottomUp=*/height > 1);
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    const fs::path tiff = folder / "out.tif", png = folder / "out.png";
    ASSERT_TRUE(Save(TFormat::Tiff, held.View, tiff));
    ASSERT_TRUE(Save(TFormat::Png, held.View, png));
    ExpectTiffHolds(tiff, picture);
    EXPECT_EQ(ExpectPngHolds(png, picture), "");
    ExpectFreeImageHolds(tiff, picture);
    ExpectFreeImageHolds(png, picture);
  }
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"out.png", "out.tif"}));
  fs::remove_all(folder);
}

TEST(ImageWriters, TheSameBytesWhateverTheNumberOfWorkers) {
  const fs::path folder = FreshFolder("workers");
  const TPicture picture(1000, 1111);
  const THeldPicture held = Hold(picture, true);
  for (const TFormat format : {TFormat::Tiff, TFormat::Png}) {
    std::string first;
    for (const unsigned workers : {1u, 3u, 0u}) {
      const fs::path path = folder / (std::to_string(workers) + "." + Extension(format));
      ASSERT_TRUE(Save(format, held.View, path, {}, workers));
      const std::string bytes = ReadAll(path);
      if (first.empty()) first = bytes;
      EXPECT_TRUE(bytes == first) << path << " differs from the one-worker file";
    }
  }
  fs::remove_all(folder);
}

namespace {
// Puts the picture into a fresh sink in runs of the given heights (repeated), then finishes;
// the file's bytes, or "" when any call failed.
std::string PutInRuns(TFormat format, const TRowView& rows, const fs::path& path, std::vector<uint32_t> runs,
                      unsigned workers) {
  auto file = TTempFile::CreateBeside(path);
  if (!file) return {};
  std::unique_ptr<TRowSink> sink = format == TFormat::Tiff ? OpenTiffSink(*file, rows.Width, rows.Height, {}, workers)
                                                           : OpenPngSink(*file, rows.Width, rows.Height, {}, workers);
  if (!sink) return {};
  for (uint32_t y = 0, k = 0; y < rows.Height; ++k) {
    TRowView part = rows;
    part.Top = rows.Top + static_cast<ptrdiff_t>(y) * rows.Stride;
    part.Height = std::min(runs[k % runs.size()], rows.Height - y);
    if (!sink->Put(part)) return {};
    y += part.Height;
  }
  if (!sink->Finish()) return {};
  sink.reset();
  return file->CommitTo(path) ? ReadAll(path) : std::string();
}
}  // namespace

TEST(ImageWriters, RowsPutInRunsOfAnyHeightGiveTheSameBytes) {
  const fs::path folder = FreshFolder("runs");
  const TPicture picture(1000, 1111);
  const THeldPicture held = Hold(picture, true);
  for (const TFormat format : {TFormat::Tiff, TFormat::Png}) {
    SCOPED_TRACE(Extension(format));
    const fs::path whole = folder / (std::string("whole.") + Extension(format));
    ASSERT_TRUE(Save(format, held.View, whole));
    const std::string expected = ReadAll(whole);
    const std::vector<std::vector<uint32_t>> runs = {{1}, {7, 1, 350}, {1024}, {1111}};
    for (size_t k = 0; k < runs.size(); ++k)
      EXPECT_TRUE(PutInRuns(format, held.View, folder / ("runs." + std::to_string(k)), runs[k], k % 2 ? 1 : 3) ==
                  expected)
          << "runs " << k;
  }
  fs::remove_all(folder);
}

TEST(ImageWriters, ASinkGivenTooManyOrTooFewRowsFailsAndLeavesNothing) {
  const fs::path folder = FreshFolder("rowcount");
  const TPicture picture(50, 40);
  const THeldPicture held = Hold(picture, false);
  for (const TFormat format : {TFormat::Tiff, TFormat::Png}) {
    SCOPED_TRACE(Extension(format));
    for (const uint32_t declared : {39u, 41u}) {
      const fs::path path = folder / (std::string("out.") + Extension(format));
      auto file = TTempFile::CreateBeside(path);
      ASSERT_TRUE(file);
      auto sink = format == TFormat::Tiff ? OpenTiffSink(*file, 50, declared, {}) : OpenPngSink(*file, 50, declared, {});
      ASSERT_TRUE(sink);
      const bool put = sink->Put(held.View);
      EXPECT_EQ(put, declared > 40);
      EXPECT_FALSE(sink->Finish());
      EXPECT_FALSE(sink->Put(held.View));  // failed or finished: nothing more goes in
    }
    // A row of another width is refused too.
    auto file = TTempFile::CreateBeside(folder / "w.tif");
    auto sink = format == TFormat::Tiff ? OpenTiffSink(*file, 51, 40, {}) : OpenPngSink(*file, 51, 40, {});
    ASSERT_TRUE(sink);
    EXPECT_FALSE(sink->Put(held.View));
  }
  EXPECT_TRUE(FolderEntries(folder).empty());
  fs::remove_all(folder);
}

TEST(ImageWriters, KeepAliveAndProgressRunOnTheCallingThreadUpToTheEnd) {
  const TPicture picture(1000, 1111);
  const THeldPicture held = Hold(picture, false);
  const fs::path folder = FreshFolder("callbacks");
  for (const TFormat format : {TFormat::Tiff, TFormat::Png}) {
    const auto caller = std::this_thread::get_id();
    std::vector<std::pair<uint64_t, uint64_t>> progress;
    bool elsewhere = false;
    TWorkCallbacks callbacks;
    callbacks.KeepAlive = [&] { elsewhere |= std::this_thread::get_id() != caller; };
    callbacks.Progress = [&](uint64_t done, uint64_t total) {
      elsewhere |= std::this_thread::get_id() != caller;
      progress.emplace_back(done, total);
    };
    ASSERT_TRUE(Save(format, held.View, folder / (std::string("p.") + Extension(format)), {}, 2, callbacks));
    EXPECT_FALSE(elsewhere);
    ASSERT_GE(progress.size(), 2u);  // several strips or blocks, each reported
    EXPECT_EQ(progress.back().first, progress.back().second);
    for (size_t i = 1; i < progress.size(); ++i) EXPECT_GT(progress[i].first, progress[i - 1].first);
  }
  fs::remove_all(folder);
}

namespace {
TGeoTiffTags SampleGeoTiff() {
  TGeoTiffTags geo;
  geo.PixelScale[0] = 10, geo.PixelScale[1] = 10;
  geo.Tiepoint[3] = 300000, geo.Tiepoint[4] = 5000040;
  // Version 1.1.0, four keys: projected model, pixel is area, UTM 33N (WGS 84), citation.
  geo.GeoKeys = {1, 1, 0, 4, 1024, 0, 1, 1, 1025, 0, 1, 1, 1026, 34737, 22, 0, 3072, 0, 1, 32633};
  geo.GeoAsciiParams = "WGS 84 / UTM zone 33N|";
  return geo;
}

// An ASCII or array tag as libtiff reads it back, whether it knows the tag or not.
template <typename T>
std::vector<T> TagValues(TIFF* tif, uint32_t tag) {
  const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
  if (!field) return {};
  const T* values = nullptr;
  uint32_t count = 0;
  if (!TIFFFieldPassCount(field)) {
    if (TIFFGetField(tif, tag, &values) != 1 || !values) return {};
    count = 1;
    if (std::is_same<T, char>::value)
      while (reinterpret_cast<const char*>(values)[count - 1]) ++count;
  } else if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
    if (TIFFGetField(tif, tag, &count, &values) != 1) return {};
  } else {
    uint16_t count16 = 0;
    if (TIFFGetField(tif, tag, &count16, &values) != 1) return {};
    count = count16;
  }
  return std::vector<T>(values, values + count);
}
std::string TagText(TIFF* tif, uint32_t tag) {
  const std::vector<char> text = TagValues<char>(tif, tag);
  return std::string(text.data(), text.empty() ? 0 : strnlen(text.data(), text.size()));
}
}  // namespace

TEST(ImageWriters, MetadataIsWrittenWhereSetAndNowhereElse) {
  const fs::path folder = FreshFolder("metadata");
  const TPicture picture(40, 30);
  const THeldPicture held = Hold(picture, true);
  TImageMetadata metadata;
  metadata.Description = "Contains modified Copernicus Sentinel data 2025";
  metadata.GeoTiff = SampleGeoTiff();
  metadata.GdalNoData = "0";
  ASSERT_TRUE(Save(TFormat::Tiff, held.View, folder / "all.tif", metadata));
  ASSERT_TRUE(Save(TFormat::Png, held.View, folder / "all.png", metadata));
  ASSERT_TRUE(Save(TFormat::Tiff, held.View, folder / "none.tif"));
  {
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(OpenTiff(folder / "all.tif"), TIFFClose);
    ASSERT_TRUE(tif);
    EXPECT_EQ(TagText(tif.get(), TIFFTAG_IMAGEDESCRIPTION), metadata.Description);
    EXPECT_EQ(TagValues<double>(tif.get(), 33550), (std::vector<double>{10, 10, 0}));
    EXPECT_EQ(TagValues<double>(tif.get(), 33922), (std::vector<double>{0, 0, 0, 300000, 5000040, 0}));
    EXPECT_EQ(TagValues<uint16_t>(tif.get(), 34735), metadata.GeoTiff->GeoKeys);
    EXPECT_EQ(TagText(tif.get(), 34737), metadata.GeoTiff->GeoAsciiParams);
    EXPECT_TRUE(TagValues<double>(tif.get(), 34736).empty());  // empty: not written
    EXPECT_EQ(TagText(tif.get(), 42113), "0");
  }
  {
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(OpenTiff(folder / "none.tif"), TIFFClose);
    ASSERT_TRUE(tif);
    for (const uint32_t tag : {uint32_t(TIFFTAG_IMAGEDESCRIPTION), 33550u, 33922u, 34735u, 34737u, 42113u})
      EXPECT_TRUE(TagValues<char>(tif.get(), tag).empty()) << "tag " << tag << " written though not set";
  }
  EXPECT_EQ(ExpectPngHolds(folder / "all.png", picture), metadata.Description);
  ExpectTiffHolds(folder / "all.tif", picture);
  fs::remove_all(folder);
}

#if !defined(_WIN32)
namespace {
// gdalinfo's output for a file, or "" when GDAL is not installed.
std::string GdalInfo(const fs::path& path) {
  if (std::system("gdalinfo --version >/dev/null 2>&1") != 0) return {};
  std::string output;
  FILE* pipe = popen(("gdalinfo -checksum '" + path.string() + "' 2>&1").c_str(), "r");
  if (!pipe) return {};
  char buffer[4096];
  while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
  pclose(pipe);
  return output;
}
std::vector<std::string> Checksums(const std::string& info) {
  std::vector<std::string> sums;
  for (size_t at = info.find("Checksum="); at != std::string::npos; at = info.find("Checksum=", at + 1))
    sums.push_back(info.substr(at, info.find('\n', at) - at));
  return sums;
}
}  // namespace

TEST(ImageWriters, GdalReadsBothFormatsWithTheSamplesOfAnUncompressedCopy) {
  const fs::path folder = FreshFolder("gdal");
  if (GdalInfo(folder).empty()) GTEST_SKIP() << "GDAL (gdalinfo) is not installed";
  const TPicture picture(1000, 1111);
  const THeldPicture held = Hold(picture, true);
  TImageMetadata metadata;
  metadata.GeoTiff = SampleGeoTiff();
  metadata.GdalNoData = "0";
  ASSERT_TRUE(Save(TFormat::Tiff, held.View, folder / "out.tif", metadata));
  ASSERT_TRUE(Save(TFormat::Png, held.View, folder / "out.png"));
  // The reference: the same samples stored plainly by FreeImage.
  FIBITMAP* plain = FreeImage_AllocateT(FIT_RGB16, int(picture.Width), int(picture.Height));
  ASSERT_TRUE(plain);
  for (uint32_t y = 0; y < picture.Height; ++y)
    std::copy_n(picture.Samples.data() + size_t(y) * picture.Width * 3, size_t(picture.Width) * 3,
                reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(plain, int(picture.Height - 1 - y))));
  ASSERT_TRUE(FreeImage_Save(FIF_TIFF, plain, (folder / "plain.tif").c_str(), TIFF_NONE));
  FreeImage_Unload(plain);

  const std::string tiffInfo = GdalInfo(folder / "out.tif");
  const std::vector<std::string> reference = Checksums(GdalInfo(folder / "plain.tif"));
  ASSERT_EQ(reference.size(), 3u);
  EXPECT_EQ(Checksums(tiffInfo), reference) << tiffInfo;
  EXPECT_EQ(Checksums(GdalInfo(folder / "out.png")), reference);
  // The GeoTIFF tags make sense to GDAL: UTM 33N, the origin and the pixel size as written.
  EXPECT_NE(tiffInfo.find("UTM zone 33N"), std::string::npos) << tiffInfo;
  EXPECT_NE(tiffInfo.find("Origin = (300000.000000000000000,5000040.000000000000000)"), std::string::npos);
  EXPECT_NE(tiffInfo.find("Pixel Size = (10.000000000000000,-10.000000000000000)"), std::string::npos);
  EXPECT_NE(tiffInfo.find("NoData Value=0"), std::string::npos);
  fs::remove_all(folder);
}
#endif
