// One band step of the composite job: load a band file and either make the Composite from it
// or copy its samples into the Composite's green or blue words.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "CompositeStream.h"
#include "ImageFiles.h"
#include "JobHost.h"

// FreeImage's colour-channel numbers.
enum class TBand : int { Red = FICC_RED, Green = FICC_GREEN, Blue = FICC_BLUE };

// Bands completed so far: red 1, green 2, blue 4; the job saves only at 7.
using TBandSet = uint8_t;
constexpr TBandSet kBandSetRed = 1, kBandSetGreen = 2, kBandSetBlue = 4, kBandSetAll = 7;

class TCompositeMask;
class TAreaMask;

// What a job's band steps share.
struct TCompositeState {
  TBandSet BandSet = 0;
  TBitmap Composite;  // FIT_RGB16, made from the first band that loads
  TImageMetadata Metadata;  // written with the Composite, where the format has room for it
  unsigned Reduce = 0;      // decode at 1/2^Reduce of the full resolution
  bool CloudOptimised = false;  // a TIFF is written as a cloud-optimised GeoTIFF
  // The bands row of tiles by row of tiles, when they allow it (see ChooseWay); then there is
  // never a Composite, and the band steps only start each band's stream.
  std::unique_ptr<TCompositeStream> Stream;
  double LoadingShare = 0.75;  // of the job's progress, what the band steps take
  TCompositeMask* Mask = nullptr;  // laid over the picture as it is saved, when asked for
  // The part of the picture the job makes, when an area of interest was asked for: the stream
  // decodes only it; a whole Composite is cropped to it once loaded.
  std::optional<TPixelWindow> Window;
  TAreaMask* AreaMask = nullptr;  // blanks what lies outside the area's polygons, when it has any
};

// A band of one unsigned component of 9 to 16 bits in the container FreeImage was asked to
// read: what the direct decoding (whole or row by row) takes.
bool DecodesDirectly(const TJp2Header& header, FREE_IMAGE_FORMAT fileType);

// A band of one unsigned component of 9 to 16 bits in a JP2 file is decoded straight into its
// word of the Composite, tile by tile on every core; every other band goes through FreeImage
// (load, convert to RGB16, take the channel). Both give the same samples: FreeImage keeps such
// values as they are. A base band decoded directly fills only the red word; the green and blue
// words count only once their own bands have filled them.
// A merged band counts only once its samples have been copied; one that loads but does not
// convert, or whose channel cannot be taken, shows its messages and leaves the set as it was,
// so the job fails instead of saving another band's words in its place.
// A merged band whose size differs from the Composite's is refused with "Size of <band> differs
// from red", known from the file's header before any decoding where the header can be read,
// and the job fails: no composite is ever part one band, part another.
// With job.Stream, the step opens the band and decodes its share of the first row of tiles
// only ("Error loading <band>" when that fails); the rest comes while saving.
// Progress: band k (red 0, green 1, blue 2) moves the host's progress over the k-th third of
// job.LoadingShare.
void ProcessBand(TCompositeState& job, JobHost& host, const std::wstring& bandFileName,
                 FREE_IMAGE_FORMAT fileType, TBand band);

namespace compositionTesting {
// False sends every band through FreeImage, as a reference for the direct decoding.
void SetDirectDecoding(bool enabled);
}  // namespace compositionTesting
