#include "ImageFiles.h"

#include <system_error>

#include "CompositionPlatform.h"
#include "CompositeSink.h"
#include "RowSinkFeed.h"
#include "TempFile.h"
#include "TextCodec.h"

namespace {
compositionTesting::ConvertHook gConvert = nullptr;
compositionTesting::ChannelHook gChannel = nullptr;

// FreeImage's wide calls exist only in its Windows build; elsewhere the narrow calls take
// UTF-8 paths.
#if defined(_WIN32)
FREE_IMAGE_FORMAT FileType(const std::wstring& path) { return FreeImage_GetFileTypeU(path.c_str(), 0); }
FIBITMAP* Load(FREE_IMAGE_FORMAT format, const std::wstring& path) {
  return FreeImage_LoadU(format, path.c_str(), 0);
}
#else
FREE_IMAGE_FORMAT FileType(const std::wstring& path) { return FreeImage_GetFileType(ToUtf8(path).c_str(), 0); }
FIBITMAP* Load(FREE_IMAGE_FORMAT format, const std::wstring& path) {
  return FreeImage_Load(format, ToUtf8(path).c_str(), 0);
}
#endif
}  // namespace

// A FIFO or device named like a band would block the first open for ever: only regular files
// (or links to one) count.
bool IsExistingFile(const std::wstring& path) {
  if (path.empty()) return false;
  std::error_code error;
  const auto status = std::filesystem::status(FsPath(path), error);
  return !error && std::filesystem::is_regular_file(status);
}

FREE_IMAGE_FORMAT GetImageFileType(const std::wstring& path) { return FileType(path); }

TBitmap LoadImageFile(FREE_IMAGE_FORMAT format, const std::wstring& path) {
  if (!IsExistingFile(path)) return nullptr;
  return TBitmap(Load(format, path));
}

bool SaveComposite(FIBITMAP* composite, TSaveFormat saveFormat, const std::wstring& path, const TImageMetadata& metadata,
                   const TWorkCallbacks& callbacks, unsigned workers) {
  if (!composite || FreeImage_GetImageType(composite) != FIT_RGB16) return false;
  const unsigned height = FreeImage_GetHeight(composite);
  if (height == 0) return false;
  // FreeImage keeps the bottom row first; the writers see the rows top-down.
  TRowView rows;
  rows.Top = FreeImage_GetScanLine(composite, static_cast<int>(height - 1));
  rows.Stride = -static_cast<ptrdiff_t>(FreeImage_GetPitch(composite));
  rows.Width = FreeImage_GetWidth(composite);
  rows.Height = height;

  const std::filesystem::path target = FsPath(path);
  const std::unique_ptr<TTempFile> file = TTempFile::CreateBeside(target);
  if (!file) return false;
  std::unique_ptr<TRowSink> sink = OpenCompositeSink(saveFormat, *file, target, rows.Width, rows.Height, metadata, workers);
  const bool written = sink && PutWholePicture(*sink, rows, callbacks);
  sink.reset();  // done with the file before it is closed
  // Not written in full: the temporary file goes with the object, the target stays as it was.
  return written && file->CommitTo(target);
}

TBitmap ConvertToRGB16(FIBITMAP* image) {
  if (gConvert) return TBitmap(gConvert(image, FIT_RGB16, TRUE));
  return TBitmap(FreeImage_ConvertToType(image, FIT_RGB16, TRUE));
}

TBitmap TakeChannel(FIBITMAP* image, FREE_IMAGE_COLOR_CHANNEL channel) {
  if (gChannel) return TBitmap(gChannel(image, channel));
  return TBitmap(FreeImage_GetChannel(image, channel));
}

namespace compositionTesting {
void SetConvertHook(ConvertHook hook) { gConvert = hook; }
void SetChannelHook(ChannelHook hook) { gChannel = hook; }
}  // namespace compositionTesting
