// The composite job's contact with FreeImage and the file system: owned bitmaps, paths in the
// form each platform's calls take, and the conversion calls the tests may replace.
#pragma once
#include <FreeImage.h>

#include <memory>
#include <string>

struct TBitmapDeleter {
  void operator()(FIBITMAP* bitmap) const {
    if (bitmap) FreeImage_Unload(bitmap);
  }
};
using TBitmap = std::unique_ptr<FIBITMAP, TBitmapDeleter>;

// True for an existing regular file or a link to one; folders, FIFOs and devices do not count.
bool IsExistingFile(const std::wstring& path);

// FreeImage's verdict on the file's content; FIF_UNKNOWN when it cannot tell or open it.
FREE_IMAGE_FORMAT GetImageFileType(const std::wstring& path);

// Null at once for anything IsExistingFile refuses.
TBitmap LoadImageFile(FREE_IMAGE_FORMAT format, const std::wstring& path);

// Writes beside the target first and puts the file in place only once it is complete, so a
// failed save never leaves a half-written file over an earlier good one.
bool SaveImageFile(FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, const std::wstring& path, int flags);

// FreeImage_ConvertToType(image, FIT_RGB16, TRUE) and FreeImage_GetChannel, through the seams.
TBitmap ConvertToRGB16(FIBITMAP* image);
TBitmap TakeChannel(FIBITMAP* image, FREE_IMAGE_COLOR_CHANNEL channel);

namespace compositionTesting {
// Replace the conversion and channel calls (null restores FreeImage's own). A replacement may
// also throw, to stand for a library that fails in some other way.
using ConvertHook = FIBITMAP* (*)(FIBITMAP* image, FREE_IMAGE_TYPE type, BOOL scaleLinear);
using ChannelHook = FIBITMAP* (*)(FIBITMAP* image, FREE_IMAGE_COLOR_CHANNEL channel);
void SetConvertHook(ConvertHook hook);
void SetChannelHook(ChannelHook hook);
}  // namespace compositionTesting
