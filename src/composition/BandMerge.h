// One band step of the composite job: load a band file and either make the Composite from it
// or copy its samples into the Composite's green or blue words.
#pragma once
#include <cstdint>
#include <string>

#include "ImageFiles.h"
#include "JobHost.h"

// FreeImage's colour-channel numbers.
enum class TBand : int { Red = FICC_RED, Green = FICC_GREEN, Blue = FICC_BLUE };

// Bands completed so far: red 1, green 2, blue 4; the job saves only at 7.
using TBandSet = uint8_t;
constexpr TBandSet kBandSetRed = 1, kBandSetGreen = 2, kBandSetBlue = 4, kBandSetAll = 7;

// What a job's band steps share.
struct TCompositeState {
  TBandSet BandSet = 0;
  TBitmap Composite;  // FIT_RGB16, made from the first band that loads
  TImageMetadata Metadata;  // written with the Composite, where the format has room for it
};

// A merged band counts only once its samples have been copied; one that loads but does not
// convert, or whose channel cannot be taken, shows its messages and leaves the set as it was,
// so the job fails instead of saving another band's words in its place.
// A merged band of another size than the Composite is copied where the two overlap, from row
// 0 and column 0 as FreeImage numbers them; the rest of its channel keeps what the base band's
// conversion put there.
void ProcessBand(TCompositeState& job, JobHost& host, const std::wstring& bandFileName,
                 FREE_IMAGE_FORMAT fileType, TBand band);
