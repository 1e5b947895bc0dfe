#include "ImageFiles.h"

#include <system_error>

#include "CompositionPlatform.h"
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
BOOL Save(FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, const std::wstring& path, int flags) {
  return FreeImage_SaveU(format, bitmap, path.c_str(), flags);
}
#else
FREE_IMAGE_FORMAT FileType(const std::wstring& path) { return FreeImage_GetFileType(ToUtf8(path).c_str(), 0); }
FIBITMAP* Load(FREE_IMAGE_FORMAT format, const std::wstring& path) {
  return FreeImage_Load(format, ToUtf8(path).c_str(), 0);
}
BOOL Save(FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, const std::wstring& path, int flags) {
  return FreeImage_Save(format, bitmap, ToUtf8(path).c_str(), flags);
}
#endif
}  // namespace

// A FIFO or device named like a band would block the first open for ever: only regular files
// (or links to one) count.
bool IsExistingFile(const std::wstring& path) {
  if (path.empty()) return false;
  std::error_code error;
  const auto status = std::filesystem::status(compositionPlatform::FsPath(path), error);
  return !error && std::filesystem::is_regular_file(status);
}

FREE_IMAGE_FORMAT GetImageFileType(const std::wstring& path) { return FileType(path); }

TBitmap LoadImageFile(FREE_IMAGE_FORMAT format, const std::wstring& path) {
  if (!IsExistingFile(path)) return nullptr;
  return TBitmap(Load(format, path));
}

bool SaveImageFile(FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, const std::wstring& path, int flags) {
  if (!bitmap) return false;
  const std::wstring partial = path + L".part";
  std::error_code ignored;
  const bool saved = Save(format, bitmap, partial, flags) != FALSE &&
                     compositionPlatform::MoveOver(partial, path);
  if (!saved) std::filesystem::remove(compositionPlatform::FsPath(partial), ignored);
  return saved;
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
