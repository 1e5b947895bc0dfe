// The composite job's contact with FreeImage and the file system: owned bitmaps, paths in the
// form each platform's calls take, and the conversion calls the tests may replace.
#pragma once
#include <FreeImage.h>

#include <memory>
#include <string>

#include "ImageMetadata.h"
#include "SaveFormat.h"
#include "WorkCallbacks.h"

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

// Saves the Composite (FIT_RGB16) as PNG (save format 0) or TIFF (1). It is written to a new
// temporary file beside the target and moved over the target only once every write, the
// flush and the close have succeeded, so a failed save leaves an earlier file as it was and
// nothing of its own behind. workers 0: one per core.
bool SaveComposite(FIBITMAP* composite, TSaveFormat saveFormat, const std::wstring& path, const TImageMetadata& metadata,
                   const TWorkCallbacks& callbacks, unsigned workers = 0);

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
