#include "TiffWriter.h"

#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "ParallelBlocks.h"
#include "RowSinkFeed.h"

namespace {
// About 2 MiB of samples per strip: large enough to keep per-strip costs small, small enough
// that a reader fetching a few rows does not inflate much more than it needs.
constexpr size_t kStripBytes = size_t(2) << 20;
// libdeflate's fastest level with the horizontal predictor: on Sentinel-2 composites the
// predictor shrinks the file by a sixth to a third and costs no time, since deflate then finds
// its matches sooner; the higher levels take twice the time for at most a few per cent.
constexpr int kDeflateLevel = 1;
constexpr bool kPredictor = true;

// GeoTIFF's tags, unknown to libtiff until merged into the handle's field list.
char kPixelScaleName[] = "ModelPixelScaleTag";
char kTiepointName[] = "ModelTiepointTag";
char kGeoKeysName[] = "GeoKeyDirectoryTag";
char kGeoDoublesName[] = "GeoDoubleParamsTag";
char kGeoAsciiName[] = "GeoASCIIParamsTag";
char kNoDataName[] = "GDALNoDataValue";
const TIFFFieldInfo kExtraFields[] = {
    {33550, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, kPixelScaleName},
    {33922, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, kTiepointName},
    {34735, -1, -1, TIFF_SHORT, FIELD_CUSTOM, 1, 1, kGeoKeysName},
    {34736, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, kGeoDoublesName},
    {34737, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, kGeoAsciiName},
    {42113, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, kNoDataName},
};

// libtiff's I/O through the output file, so that every write is checked by one owner.
tmsize_t ReadProc(thandle_t handle, void* data, tmsize_t size) {
  return static_cast<tmsize_t>(static_cast<TOutputFile*>(handle)->Read(data, static_cast<size_t>(size)));
}
tmsize_t WriteProc(thandle_t handle, void* data, tmsize_t size) {
  return static_cast<TOutputFile*>(handle)->Write(data, static_cast<size_t>(size)) ? size : -1;
}
toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  const int64_t at = static_cast<TOutputFile*>(handle)->Seek(static_cast<int64_t>(offset), whence);
  return at < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(at);
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) {
  const int64_t size = static_cast<TOutputFile*>(handle)->Size();
  return size < 0 ? 0 : static_cast<toff_t>(size);
}
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// Errors end in a false result; libtiff's own words would only clutter the console.
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TTiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct TOptionsFreer {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
struct TCompressorFreer {
  void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

// ASCII tags: libtiff wants a count before the text for some fields and not for others.
bool SetText(TIFF* tif, uint32_t tag, const std::string& text) {
  const TIFFField* field = TIFFFieldWithTag(tif, tag);
  if (!field) return false;
  if (TIFFFieldPassCount(field))
    return TIFFSetField(tif, tag, static_cast<uint32_t>(text.size() + 1), text.c_str()) == 1;
  return TIFFSetField(tif, tag, text.c_str()) == 1;
}

bool SetMetadata(TIFF* tif, const TImageMetadata& metadata) {
  if (!metadata.Description.empty() && TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, metadata.Description.c_str()) != 1)
    return false;
  if (!metadata.Software.empty() && TIFFSetField(tif, TIFFTAG_SOFTWARE, metadata.Software.c_str()) != 1) return false;
  if (!metadata.GeoTiff && !metadata.GdalNoData) return true;
  if (TIFFMergeFieldInfo(tif, kExtraFields, sizeof kExtraFields / sizeof kExtraFields[0]) != 0) return false;
  if (metadata.GeoTiff) {
    const TGeoTiffTags& geo = *metadata.GeoTiff;
    if (TIFFSetField(tif, 33550, 3, geo.PixelScale) != 1 || TIFFSetField(tif, 33922, 6, geo.Tiepoint) != 1)
      return false;
    if (!geo.GeoKeys.empty() &&
        TIFFSetField(tif, 34735, static_cast<int>(geo.GeoKeys.size()), geo.GeoKeys.data()) != 1)
      return false;
    if (!geo.GeoDoubleParams.empty() &&
        TIFFSetField(tif, 34736, static_cast<int>(geo.GeoDoubleParams.size()), geo.GeoDoubleParams.data()) != 1)
      return false;
    if (!geo.GeoAsciiParams.empty() && !SetText(tif, 34737, geo.GeoAsciiParams)) return false;
  }
  if (metadata.GdalNoData && !SetText(tif, 42113, *metadata.GdalNoData)) return false;
  return true;
}

// One strip: its rows gathered top-down (with the predictor, as differences from the pixel to
// the left, channel by channel), then one zlib stream.
bool EncodeStrip(const TRowView& rows, uint32_t first, uint32_t count, std::vector<uint8_t>& out) {
  const size_t samplesPerRow = static_cast<size_t>(rows.Width) * 3;
  std::vector<uint16_t> samples(samplesPerRow * count);
  for (uint32_t r = 0; r < count; ++r) {
    const uint16_t* in = rows.Row(first + r);
    uint16_t* row = samples.data() + r * samplesPerRow;
    if (!kPredictor) {
      std::memcpy(row, in, samplesPerRow * 2);
      continue;
    }
    for (size_t i = 0; i < std::min<size_t>(3, samplesPerRow); ++i) row[i] = in[i];
    for (size_t i = 3; i < samplesPerRow; ++i) row[i] = static_cast<uint16_t>(in[i] - in[i - 3]);
  }
  std::unique_ptr<libdeflate_compressor, TCompressorFreer> compressor(libdeflate_alloc_compressor(kDeflateLevel));
  if (!compressor) return false;
  const size_t inSize = samples.size() * 2;
  out.resize(libdeflate_zlib_compress_bound(compressor.get(), inSize));
  const size_t size = libdeflate_zlib_compress(compressor.get(), samples.data(), inSize, out.data(), out.size());
  if (size == 0) return false;
  out.resize(size);
  return true;
}

// Strips of rowsPerStrip rows, each deflated on a worker and written raw, in order, on the
// thread that puts the rows; the directory goes at the end with the flush.
class TTiffSink final : public TRowSink {
 public:
  TTiffSink(TOutputFile& file, std::unique_ptr<TIFFOpenOptions, TOptionsFreer> options,
            std::unique_ptr<TIFF, TTiffCloser> tif, uint32_t width, uint32_t height, uint32_t rowsPerStrip,
            unsigned workers)
      : FFile(file), FOptions(std::move(options)), FTif(std::move(tif)) {
    TIFF* t = FTif.get();
    FStrips = std::make_unique<TRowBlocks>(
        width, height, rowsPerStrip, workers,
        [](size_t, const TRowView& rows, std::vector<uint8_t>& out) {
          return EncodeStrip(rows, 0, rows.Height, out);
        },
        [this, t](size_t strip, std::vector<uint8_t>& bytes) {
          const tmsize_t size = static_cast<tmsize_t>(bytes.size());
          return TIFFWriteRawStrip(t, static_cast<uint32_t>(strip), bytes.data(), size) == size && !FFile.Failed();
        });
  }
  bool Put(const TRowView& rows) override { return !FDone && FStrips->Put(rows); }
  bool Finish() override {
    if (FDone) return false;
    FDone = true;
    if (!FStrips->Finish()) return false;
    // The directory goes out with the flush; the close that follows writes nothing more.
    const bool flushed = TIFFFlush(FTif.get()) == 1;
    FTif.reset();
    return flushed && !FFile.Failed();
  }

 private:
  TOutputFile& FFile;
  std::unique_ptr<TIFFOpenOptions, TOptionsFreer> FOptions;
  std::unique_ptr<TIFF, TTiffCloser> FTif;
  bool FDone = false;
  std::unique_ptr<TRowBlocks> FStrips;  // last: its workers stop before the handle goes
};
}  // namespace

std::unique_ptr<TRowSink> OpenTiffSink(TOutputFile& file, uint32_t width, uint32_t height,
                                       const TImageMetadata& metadata, unsigned workers) {
  if (width == 0 || height == 0) return nullptr;
  const size_t rowBytes = size_t{width} * 6;
  const uint32_t rowsPerStrip =
      static_cast<uint32_t>(std::clamp<size_t>((kStripBytes + rowBytes - 1) / rowBytes, 1, height));
  // Classic TIFF addresses 4 GiB; a larger picture (deflate may not shrink it) gets BigTIFF.
  const bool big = static_cast<double>(rowBytes) * height > 3.9e9;

  std::unique_ptr<TIFFOpenOptions, TOptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Quiet, nullptr);
  std::unique_ptr<TIFF, TTiffCloser> tif(TIFFClientOpenExt("output", big ? "w8" : "w", &file, ReadProc, WriteProc,
                                                           SeekProc, CloseProc, SizeProc, MapProc, UnmapProc,
                                                           options.get()));
  if (!tif) return nullptr;
  TIFF* t = tif.get();
  const bool fields = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width) == 1 &&
                      TIFFSetField(t, TIFFTAG_IMAGELENGTH, height) == 1 &&
                      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16) == 1 &&
                      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3) == 1 &&
                      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1 &&
                      TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
                      TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) == 1 &&
                      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) == 1 &&
                      (!kPredictor || TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) == 1) &&
                      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) == 1 && SetMetadata(t, metadata);
  if (!fields) return nullptr;
  try {
    return std::make_unique<TTiffSink>(file, std::move(options), std::move(tif), width, height, rowsPerStrip,
                                       workers);
  } catch (...) {
    return nullptr;
  }
}

bool WriteTiff48(TOutputFile& file, const TRowView& rows, const TImageMetadata& metadata,
                 const TWorkCallbacks& callbacks, unsigned workers) {
  if (rows.Width == 0 || rows.Height == 0 || !rows.Top) return false;
  const std::unique_ptr<TRowSink> sink = OpenTiffSink(file, rows.Width, rows.Height, metadata, workers);
  return sink && PutWholePicture(*sink, rows, callbacks);
}
