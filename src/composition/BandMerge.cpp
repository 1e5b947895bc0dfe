#include "BandMerge.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <thread>

#include "CompositionPlatform.h"
#include "Jp2BandDecoder.h"
#include "Jp2Header.h"
#include "SystemMemory.h"
#include "qelUtils.h"
#include "TextCodec.h"

namespace {
bool gDirectDecoding = true;

const wchar_t* BandName(TBand band) {
  switch (band) {
    case TBand::Red: return L"red";
    case TBand::Green: return L"green";
    default: return L"blue";
  }
}

double ProgressAtStart(const TCompositeState& job, TBand band) {
  return (static_cast<int>(band) - 1) * job.LoadingShare / 3;
}

bool SameSize(FIBITMAP* composite, uint64_t width, uint64_t height) {
  return FreeImage_GetWidth(composite) == width && FreeImage_GetHeight(composite) == height;
}

TWorkCallbacks BandCallbacks(const TCompositeState& job, JobHost& host, TBand band) {
  TWorkCallbacks callbacks;
  callbacks.KeepAlive = [] { KeepAlive(); };
  const double start = ProgressAtStart(job, band), span = job.LoadingShare / 3;
  callbacks.Progress = [&host, start, span](uint64_t done, uint64_t total) {
    host.SetProgress(start + (total ? span * static_cast<double>(done) / static_cast<double>(total) : 0.0));
  };
  return callbacks;
}

// Decodes the band into one word of every Composite pixel. The band's top row is the
// Composite's last scan line, as FreeImage stores pictures bottom-up.
bool DecodeIntoWord(const TCompositeState& job, const std::wstring& fileName, FIBITMAP* composite, TBand word,
                    JobHost& host, TBand band) {
  const unsigned width = FreeImage_GetWidth(composite), height = FreeImage_GetHeight(composite);
  const size_t offset = word == TBand::Red     ? offsetof(FIRGB16, red) / sizeof(WORD)
                        : word == TBand::Green ? offsetof(FIRGB16, green) / sizeof(WORD)
                                               : offsetof(FIRGB16, blue) / sizeof(WORD);
  TSampleTarget target;
  target.Width = width;
  target.Height = height;
  target.PixelStep = sizeof(FIRGB16) / sizeof(WORD);
  target.Row = [composite, height, offset](uint32_t y) {
    return reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(composite, static_cast<int>(height - 1 - y))) + offset;
  };
  TJp2DecodeOptions options;
  options.Reduce = job.Reduce;
  std::string error;
  return DecodeJp2Band(FsPath(fileName), target, options, BandCallbacks(job, host, band), error);
}

// The direct way; the same messages and effects as the FreeImage sequence below.
void ProcessDirectly(TCompositeState& job, JobHost& host, const std::wstring& bandFileName, const TJp2Header& header,
                     TBand band) {
  const std::wstring name = BandName(band);
  if (!job.Composite) {
    // The whole Composite must fit the machine before it is asked for.
    const uint32_t width = header.WidthAt(job.Reduce), height = header.HeightAt(job.Reduce);
    const uint64_t memory = PhysicalMemoryBytes();
    if (memory && static_cast<double>(sizeof(FIRGB16)) * width * height > static_cast<double>(memory)) {
      KeepAlive();
      host.ShowModalMessage(L"Error loading " + name);
      return;
    }
    TBitmap composite(FreeImage_AllocateT(FIT_RGB16, static_cast<int>(width), static_cast<int>(height)));
    if (!composite) {
      KeepAlive();
      host.ShowModalMessage(L"Error converting red");
      job.BandSet = kBandSetRed;
      return;
    }
    const bool decoded = DecodeIntoWord(job, bandFileName, composite.get(), TBand::Red, host, band);
    KeepAlive();
    if (!decoded) {
      host.ShowModalMessage(L"Error loading " + name);
      return;
    }
    job.Composite = std::move(composite);
    job.BandSet = kBandSetRed;
    return;
  }
  // A failure part way leaves some of this band's words written; the band does not count, so
  // the job saves nothing.
  const bool decoded = DecodeIntoWord(job, bandFileName, job.Composite.get(), band, host, band);
  KeepAlive();
  if (!decoded) {
    host.ShowModalMessage(L"Error loading " + name);
    return;
  }
  job.BandSet |= band == TBand::Green ? kBandSetGreen : kBandSetBlue;
}

// The streaming way: the band's file is opened and its share of the first row of tiles decoded.
void ProcessStreamed(TCompositeState& job, JobHost& host, TBand band) {
  const int index = static_cast<int>(band) - 1;
  std::string error;
  const bool started = job.Stream->StartBand(index, BandCallbacks(job, host, band), error);
  KeepAlive();
  if (!started) {
    host.ShowModalMessage(std::wstring(L"Error loading ") + BandName(band));
    return;
  }
  job.BandSet |= band == TBand::Red ? kBandSetRed : band == TBand::Green ? kBandSetGreen : kBandSetBlue;
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

// The FreeImage sequence: load, convert to RGB16, take the channel, copy it.
void ProcessThroughFreeImage(TCompositeState& job, JobHost& host, const std::wstring& bandFileName,
                             FREE_IMAGE_FORMAT fileType, TBand band) {
  const std::wstring name = BandName(band);
  // FreeImage decodes the full resolution only: a reduced composite of such a band cannot be
  // made, and a full one in its place would be wrong.
  if (job.Reduce > 0) {
    host.ShowModalMessage(L"Error loading " + name);
    return;
  }
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
  if (!SameSize(job.Composite.get(), FreeImage_GetWidth(loaded.get()), FreeImage_GetHeight(loaded.get()))) {
    host.ShowModalMessage(L"Size of " + name + L" differs from red");
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
}  // namespace

void ProcessBand(TCompositeState& job, JobHost& host, const std::wstring& bandFileName,
                 FREE_IMAGE_FORMAT fileType, TBand band) {
  const std::wstring name = BandName(band);
  host.SetStatusText(L"Processing " + name);
  host.RepaintNow();
  // A millisecond's pause after each announcement, as the job has always made: it gives the
  // processor up once, so that the window system (a compositor, a remote session) can put the
  // freshly painted status on the screen before the long decoding holds the thread.
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  host.SetProgress(ProgressAtStart(job, band));
  if (job.Stream) {
    ProcessStreamed(job, host, band);
    host.SetProgress(ProgressAtStart(job, band) + job.LoadingShare / 3);
    return;
  }

  // The header tells, before any decoding, whether the band can be decoded at all, whether it
  // fits the Composite, and which way it takes.
  TJp2Header header;
  std::string error;
  const TJp2HeaderStatus status = ReadJp2Header(FsPath(bandFileName), header, error);
  if (status == TJp2HeaderStatus::Impossible) {
    KeepAlive();
    host.ShowModalMessage(L"Error loading " + name);
    return;
  }
  // A subsampled band loads at its component's size, not the grid's; a reduced one (plain
  // bands only) at the grid's size at that resolution.
  const uint32_t bandWidth = header.LoadedWidth(job.Reduce);
  const uint32_t bandHeight = header.LoadedHeight(job.Reduce);
  if (status == TJp2HeaderStatus::Read && job.Composite && !SameSize(job.Composite.get(), bandWidth, bandHeight)) {
    host.ShowModalMessage(L"Size of " + name + L" differs from red");
    return;
  }
  // The red word is never merged: it comes from the base band.
  if (status == TJp2HeaderStatus::Read && DecodesDirectly(header, fileType) && (!job.Composite || band != TBand::Red))
    ProcessDirectly(job, host, bandFileName, header, band);
  else
    ProcessThroughFreeImage(job, host, bandFileName, fileType, band);
  host.SetProgress(ProgressAtStart(job, band) + job.LoadingShare / 3);
}

// FreeImage keeps a band of 9 to 16 unsigned bits as its samples are (fewer bits become 8-bit
// pictures, scaled on conversion): only such bands, in the container FreeImage was asked to
// read, take the direct way.
bool DecodesDirectly(const TJp2Header& header, FREE_IMAGE_FORMAT fileType) {
  const bool container = (fileType == FIF_JP2 && header.Container == TJp2Container::Jp2) ||
                         (fileType == FIF_J2K && header.Container == TJp2Container::Codestream);
  return gDirectDecoding && container && header.IsPlainBand() && header.Precision >= 9;
}

namespace compositionTesting {
void SetDirectDecoding(bool enabled) { gDirectDecoding = enabled; }
}  // namespace compositionTesting
