#include "Quicklook.h"

#include <FreeImage.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <system_error>

#include "AreaCrop.h"
#include "CompositeMask.h"
#include "CompositeStream.h"
#include "CompositionPlatform.h"
#include "ImageFiles.h"
#include "Jp2BandDecoder.h"
#include "Jp2Header.h"
#include "OutputMetadata.h"
#include "PngTransparency.h"
#include "TempFile.h"
#include "TextCodec.h"
#include "BandOffset.h"
#include "TrueColour.h"

namespace fs = std::filesystem;

namespace {
constexpr int kFoldersAbove = 4;

enum class TSmallFile { Read, TooLarge, Unreadable };
TSmallFile ReadSmallFile(const fs::path& path, std::string& text) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) return TSmallFile::Unreadable;
  if (size > kXmlMaxBytes) return TSmallFile::TooLarge;
  std::ifstream file(path, std::ios::binary);
  text.resize(static_cast<size_t>(size));
  const bool read = file && file.read(text.data(), static_cast<std::streamsize>(size)) &&
                    file.gcount() == static_cast<std::streamsize>(size);
  return read ? TSmallFile::Read : TSmallFile::Unreadable;
}

// Why a metadata file gave no offset, in the words of the quicklook's notes.
std::wstring UnreadReason(TXmlRead read) {
  switch (read) {
    case TXmlRead::TooLarge: return L"is too large to read";
    case TXmlRead::Doctype: return L"is refused because of its DOCTYPE";
    case TXmlRead::NotXml: return L"is not readable XML";
    case TXmlRead::Read: break;
  }
  return {};
}

std::wstring Shown(fs::path path) { return FromUtf8(path.make_preferred().u8string()); }

// FreeImage writes the PNG through these into our temporary file, so that the quicklook takes
// the same way to disk as the composite: a new file made exclusively, checked writes and close,
// one move into place.
unsigned DLL_CALLCONV ReadFromFile(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  if (size == 0) return 0;
  const int64_t got = static_cast<TOutputFile*>(handle)->Read(buffer, size_t{size} * count);
  return got < 0 ? 0 : static_cast<unsigned>(static_cast<uint64_t>(got) / size);
}
unsigned DLL_CALLCONV WriteToFile(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  return static_cast<TOutputFile*>(handle)->Write(buffer, size_t{size} * count) ? count : 0;
}
int DLL_CALLCONV SeekInFile(fi_handle handle, long offset, int origin) {
  return static_cast<TOutputFile*>(handle)->Seek(offset, origin) < 0 ? -1 : 0;
}
long DLL_CALLCONV TellInFile(fi_handle handle) {
  return static_cast<long>(static_cast<TOutputFile*>(handle)->Seek(0, SEEK_CUR));
}


// A pixel any of whose bands has no data is no data in all three channels, as in ESA's TCI.
// A channel byte is 0 exactly where its band's sample is 0: valid samples map to at least 1.
void KeepNoDataBlack(FIBITMAP* picture) {
  const unsigned width = FreeImage_GetWidth(picture), height = FreeImage_GetHeight(picture);
  for (unsigned y = 0; y < height; ++y) {
    BYTE* pixel = FreeImage_GetScanLine(picture, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x, pixel += 3)
      if (!pixel[0] || !pixel[1] || !pixel[2]) pixel[0] = pixel[1] = pixel[2] = 0;
  }
}

// The masked pixels become no data, 0, 0, 0, in runs of rows of the mask. Returns how many
// pixels are no data then, masked or not.
uint64_t HideMasked(FIBITMAP* picture, const TCompositeMask& mask) {
  constexpr uint32_t kRun = 256;
  const uint32_t width = FreeImage_GetWidth(picture), height = FreeImage_GetHeight(picture);
  std::vector<uint8_t> masked(size_t{width} * kRun);
  uint64_t noData = 0;
  for (uint32_t first = 0; first < height; first += kRun) {
    const uint32_t count = std::min(kRun, height - first);
    mask.Rows(first, count, masked.data());
    for (uint32_t y = 0; y < count; ++y) {
      BYTE* pixel = FreeImage_GetScanLine(picture, static_cast<int>(height - 1 - first - y));
      const uint8_t* hidden = masked.data() + size_t{y} * width;
      for (uint32_t x = 0; x < width; ++x, pixel += 3) {
        if (hidden[x]) pixel[0] = pixel[1] = pixel[2] = 0;
        noData += pixel[0] == 0;  // the three channels are 0 together by now
      }
    }
  }
  return noData;
}
// Outside the area's polygons is no data, 0, 0, 0.
void BlankOutsideArea(FIBITMAP* picture, const TAreaMask& mask) {
  const uint32_t width = FreeImage_GetWidth(picture), height = FreeImage_GetHeight(picture);
  std::vector<uint8_t> inside(width);
  for (uint32_t y = 0; y < height; ++y) {
    mask.Row(y, inside.data());
    BYTE* pixel = FreeImage_GetScanLine(picture, static_cast<int>(height - 1 - y));
    for (uint32_t x = 0; x < width; ++x, pixel += 3)
      if (!inside[x]) pixel[0] = pixel[1] = pixel[2] = 0;
  }
}

// The window's rows from the stream, mapped straight into the 8-bit picture.
class TTrueColourSink : public TRowSink {
 public:
  TTrueColourSink(FIBITMAP* picture, const int (&offsets)[3]) : FPicture(picture), FOffsets{offsets[0], offsets[1], offsets[2]} {}
  bool Put(const TRowView& rows) override {
    const uint32_t height = FreeImage_GetHeight(FPicture);
    if (rows.Width != FreeImage_GetWidth(FPicture) || uint64_t{FNext} + rows.Height > height) return false;
    const int byteOf[3] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE};
    for (uint32_t y = 0; y < rows.Height; ++y, ++FNext) {
      BYTE* line = FreeImage_GetScanLine(FPicture, static_cast<int>(height - 1 - FNext));  // bottom-up
      const uint16_t* in = rows.Row(y);
      for (uint32_t x = 0; x < rows.Width; ++x)
        for (int c = 0; c < 3; ++c) line[3 * x + byteOf[c]] = TrueColourByte(in[3 * x + c], FOffsets[c]);
    }
    return true;
  }
  bool Finish() override { return FNext == FreeImage_GetHeight(FPicture); }

 private:
  FIBITMAP* FPicture;
  int FOffsets[3];
  uint32_t FNext = 0;
};

bool StreamWindow(const fs::path (&files)[3], unsigned reduce, const TPixelWindow& window, const int (&offsets)[3],
                  FIBITMAP* picture, std::wstring& error) {
  TCompositeStream stream(files, reduce);
  stream.SetWindow(window);
  std::string why;
  for (int b = 0; b < 3; ++b) {
    if (!stream.StartBand(b, TWorkCallbacks{}, why)) {
      error = L"cannot decode " + FromUtf8(files[b].filename().u8string()) + (why.empty() ? L"" : L": " + FromUtf8(why));
      return false;
    }
  }
  TTrueColourSink sink(picture, offsets);
  const TCompositeStream::TResult result = stream.WriteTo(sink, TWorkCallbacks{});
  if (result.Kind == TCompositeStream::TResult::Written) return true;
  error = L"cannot decode the bands" + (result.Error.empty() ? std::wstring() : L": " + FromUtf8(result.Error));
  return false;
}
}  // namespace

bool SaveQuicklookPng(FIBITMAP* bitmap, const std::wstring& path) {
  const fs::path target = FsPath(path);
  const std::unique_ptr<TTempFile> file = TTempFile::CreateBeside(target);
  if (!file) return false;
  FreeImageIO io{ReadFromFile, WriteToFile, SeekInFile, TellInFile};
  // No data is marked transparent while the file is still ours alone.
  std::string chunkError;
  return FreeImage_SaveToHandle(FIF_PNG, bitmap, &io, static_cast<TOutputFile*>(file.get()), PNG_Z_BEST_SPEED) &&
         !file->Failed() && InsertPngChunkAfterHeader(*file, PngTransparentColourChunk(0, 0, 0), chunkError) &&
         file->CommitTo(target);
}

TBandOffsetSource FindBandOffset(const std::wstring& bandPath) {
  TBandOffsetSource source;
  std::error_code error;
  fs::path folder = fs::absolute(FsPath(bandPath), error).parent_path();
  if (error) return source;
  for (int up = 0; up <= kFoldersAbove; ++up) {
    for (const char* name : {"MTD_MSIL2A.xml", "MTD_MSIL1C.xml"}) {
      const fs::path candidate = folder / name;
      if (!fs::is_regular_file(candidate, error)) continue;
      source.MetadataFile = Shown(candidate);
      std::string text;
      const std::optional<int> band = Sentinel2BandId(ToUtf8(FileNamePart(bandPath)));
      if (!band) return source;
      switch (ReadSmallFile(candidate, text)) {
        case TSmallFile::TooLarge: source.Unread = UnreadReason(TXmlRead::TooLarge); return source;
        case TSmallFile::Unreadable: source.Unread = L"cannot be read"; return source;
        case TSmallFile::Read: break;
      }
      const TBandOffset offset = BandOffsetFromMetadata(text, *band);
      source.Unread = UnreadReason(offset.Read);
      if (offset.Offset) {
        source.Offset = *offset.Offset;
        source.Listed = true;
      }
      return source;
    }
    if (!folder.has_relative_path()) break;  // the root
    folder = folder.parent_path();
  }
  return source;
}

std::wstring QuicklookName(const std::wstring& compositePath) {
  const size_t dot = compositePath.find_last_of(L'.');
  const size_t slash = compositePath.find_last_of(L"/\\");
  const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
  return (hasExtension ? compositePath.substr(0, dot) : compositePath) + L"_ql.png";
}

TQuicklookResult WriteQuicklook(const TBandNames& names, const std::wstring& path, unsigned reduce,
                                const std::string& software, const TMaskClasses* mask, const TAreaOfInterest* area) {
  TQuicklookResult result;
  std::unique_ptr<TAreaMask> areaMask;
  if (area) {
    const TAreaPlacement placed = PlaceArea(*area, names, reduce);
    if (placed.Kind != TAreaPlacement::Inside) {
      result.Error = placed.Message;
      result.Outside = placed.Kind == TAreaPlacement::Outside;
      return result;
    }
    result.Window = placed.Window;
    if (area->Kind == TAreaKind::Polygons) areaMask = std::make_unique<TAreaMask>(area->Polygons, placed.Grid, placed.Window);
  }
  TCompositeMask clouds;
  if (mask && !clouds.Prepare(names, reduce, result.Window ? &*result.Window : nullptr, *mask, result.Error)) return result;
  const std::wstring* bands[3] = {&names.Red, &names.Green, &names.Blue};
  fs::path files[3];
  TJp2Header headers[3];
  uint32_t width = 0, height = 0;
  for (int c = 0; c < 3; ++c) {
    files[c] = FsPath(*bands[c]);
    TJp2Header& header = headers[c];
    std::string error;
    if (ReadJp2Header(files[c], header, error) != TJp2HeaderStatus::Read || !header.IsPlainBand()) {
      result.Error = L"cannot decode " + FileNamePart(*bands[c]) + (error.empty() ? L"" : L": " + FromUtf8(error));
      return result;
    }
    if (reduce >= header.Resolutions) {
      result.Error = FileNamePart(*bands[c]) + L" has " + std::to_wstring(header.Resolutions) +
                     L" resolution levels; it cannot be reduced " + std::to_wstring(reduce) + L" times";
      return result;
    }
    if (c == 0) {
      width = header.WidthAt(reduce);
      height = header.HeightAt(reduce);
    } else if (header.WidthAt(reduce) != width || header.HeightAt(reduce) != height) {
      result.Error = L"the bands differ in size";
      return result;
    }
  }

  // A window of tiled bands streams: only the code-stream tiles it meets decode. Otherwise the
  // whole band decodes, and only the window's rows are kept and its columns mapped.
  const TPixelWindow window = result.Window ? *result.Window : TPixelWindow{0, 0, width, height};
  std::string notStreamed;
  const bool stream = result.Window && CanStreamBands(headers, reduce, notStreamed);
  TBitmap picture(FreeImage_Allocate(static_cast<int>(window.Width), static_cast<int>(window.Height), 24));
  std::vector<uint16_t> samples;
  try {
    if (!stream) samples.resize(static_cast<size_t>(width) * window.Height);
  } catch (const std::bad_alloc&) {
    picture.reset();
  }
  if (!picture) {
    result.Error = L"not enough memory for a " + std::to_wstring(window.Width) + L" x " + std::to_wstring(window.Height) +
                   L" quicklook";
    return result;
  }
  const int byteOf[3] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE};
  int offsets[3] = {0, 0, 0};
  for (int c = 0; c < 3; ++c) {
    const TBandOffsetSource offset = FindBandOffset(*bands[c]);
    offsets[c] = offset.Offset;
    const std::wstring band = FileNamePart(*bands[c]);
    if (offset.Listed)
      result.Notes.push_back(L"offset " + std::to_wstring(offset.Offset) + L" for " + band + L" from " + offset.MetadataFile);
    else if (!offset.Unread.empty())
      result.Notes.push_back(offset.MetadataFile + L" " + offset.Unread + L": offset for " + band + L" taken as 0");
    else if (!offset.MetadataFile.empty())
      result.Notes.push_back(offset.MetadataFile + L" lists no offset for " + band + L": taken as 0");
    else
      result.Notes.push_back(L"no product metadata (MTD_MSIL2A.xml or MTD_MSIL1C.xml) found for " + band +
                             L": offset taken as 0");
    if (stream) continue;

    TSampleTarget target;
    target.Width = width;
    target.Height = height;
    target.Row = [&samples, width, window](uint32_t y) {
      if (y >= window.Row && y - window.Row < window.Height)
        return samples.data() + static_cast<size_t>(y - window.Row) * width;
      // Rows beyond the window go to a row of the decoding thread's own, never read.
      thread_local std::vector<uint16_t> discarded;
      discarded.resize(width);
      return discarded.data();
    };
    TJp2DecodeOptions options;
    options.Reduce = reduce;
    std::string error;
    if (!DecodeJp2Band(files[c], target, options, TWorkCallbacks{}, error)) {
      result.Error = L"cannot decode " + band + (error.empty() ? L"" : L": " + FromUtf8(error));
      return result;
    }
    // FreeImage keeps rows bottom-up.
    for (uint32_t y = 0; y < window.Height; ++y) {
      BYTE* line = FreeImage_GetScanLine(picture.get(), static_cast<int>(window.Height - 1 - y));
      const uint16_t* row = samples.data() + static_cast<size_t>(y) * width + window.Col;
      for (uint32_t x = 0; x < window.Width; ++x) line[3 * x + byteOf[c]] = TrueColourByte(row[x], offset.Offset);
    }
  }
  samples = std::vector<uint16_t>();
  if (stream && !StreamWindow(files, reduce, window, offsets, picture.get(), result.Error)) return result;
  KeepNoDataBlack(picture.get());
  if (mask) result.MaskedPixels = HideMasked(picture.get(), clouds);
  if (areaMask) BlankOutsideArea(picture.get(), *areaMask);
  FreeImage_SetMetadataKeyValue(FIMD_COMMENTS, picture.get(), "Description", kAttribution);
  if (!software.empty()) FreeImage_SetMetadataKeyValue(FIMD_COMMENTS, picture.get(), "Software", software.c_str());

  // A failed save leaves an earlier quicklook as it was, and nothing of its own.
  if (!SaveQuicklookPng(picture.get(), path)) {
    result.Error = L"cannot write " + path;
    return result;
  }
  result.Written = true;
  result.Width = window.Width;
  result.Height = window.Height;
  return result;
}
