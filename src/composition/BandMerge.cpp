#include "BandMerge.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "qelUtils.h"

namespace {
const wchar_t* BandName(TBand band) {
  switch (band) {
    case TBand::Red: return L"red";
    case TBand::Green: return L"green";
    default: return L"blue";
  }
}

// The channel image holds one unsigned 16-bit sample per pixel; the Composite one FIRGB16.
void CopyIntoComposite(FIBITMAP* channel, FIBITMAP* composite, TBand band) {
  const unsigned width = std::min(FreeImage_GetWidth(channel), FreeImage_GetWidth(composite));
  const unsigned height = std::min(FreeImage_GetHeight(channel), FreeImage_GetHeight(composite));
  for (unsigned y = 0; y < height; ++y) {
    if (y % 128 == 0) KeepAlive();
    const auto* source = reinterpret_cast<const WORD*>(FreeImage_GetScanLine(channel, static_cast<int>(y)));
    auto* target = reinterpret_cast<FIRGB16*>(FreeImage_GetScanLine(composite, static_cast<int>(y)));
    if (band == TBand::Green) {
      for (unsigned x = 0; x < width; ++x) target[x].green = source[x];
    } else {
      for (unsigned x = 0; x < width; ++x) target[x].blue = source[x];
    }
  }
}
}  // namespace

void ProcessBand(TCompositeState& job, JobHost& host, const std::wstring& bandFileName,
                 FREE_IMAGE_FORMAT fileType, TBand band) {
  const std::wstring name = BandName(band);
  host.SetStatusText(L"Processing " + name);
  host.RepaintNow();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));

  TBitmap loaded = LoadImageFile(fileType, bandFileName);
  KeepAlive();
  if (!loaded) {
    host.ShowModalMessage(L"Error loading " + name);
    return;
  }

  if (!job.Composite) {
    // Whichever band loads first becomes the base, and the set restarts as red alone.
    job.Composite = ConvertToRGB16(loaded.get());
    KeepAlive();
    if (!job.Composite) host.ShowModalMessage(L"Error converting red");
    loaded.reset();
    job.BandSet = kBandSetRed;
    return;
  }

  TBitmap converted = ConvertToRGB16(loaded.get());
  KeepAlive();
  if (!converted) host.ShowModalMessage(L"Error converting " + name);
  loaded.reset();
  // The red channel is never merged: it came from the base band.
  TBitmap channel;
  if (converted && band != TBand::Red)
    channel = TakeChannel(converted.get(), static_cast<FREE_IMAGE_COLOR_CHANNEL>(band));
  if (channel && FreeImage_GetImageType(channel.get()) != FIT_UINT16) channel.reset();
  if (!channel) host.ShowModalMessage(L"Error converting to grey");
  KeepAlive();
  converted.reset();
  if (!channel) return;

  CopyIntoComposite(channel.get(), job.Composite.get(), band);
  job.BandSet |= band == TBand::Green ? kBandSetGreen : kBandSetBlue;
}
