// A composite masked with its product's own cloud classification: the mask found from the red
// band and decoded before any band, then laid over the picture on its way out, row by row in
// front of the writer or over the whole Composite, with the no-data rule of a masked picture
// (a pixel any band of which has no data is 0, 0, 0 too).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "CloudMask.h"
#include "CompositeJob.h"
#include "MaskingSink.h"
#include "PixelWindow.h"

struct FIBITMAP;

class TCompositeMask {
 public:
  // Finds and decodes the mask of the band set and places it on the composite's grid (at
  // 1/2^reduce resolution), or on window of it when the composite is cropped. False with the
  // text to show: no mask in the product, or one that cannot be read or placed.
  bool Prepare(const TBandNames& names, unsigned reduce, const TPixelWindow* window, const TMaskClasses& classes,
               std::wstring& error);

  // A sink in front of sink that masks the rows on their way; valid while both live.
  TRowSink& Wrap(TRowSink& sink);
  // Masks a whole FIT_RGB16 Composite in place.
  void Apply(FIBITMAP* composite);

  // Rows first .. first + count - 1 of the mask on the picture's grid (1 masked).
  void Rows(uint32_t first, uint32_t count, uint8_t* out) const { FMask.Rows(FGrid, first, count, out); }
  const TPlacedGrid& Grid() const { return FGrid; }

  uint64_t MaskedPixels() const;
  uint64_t Pixels() const;

 private:
  TCloudMask FMask;
  TPlacedGrid FGrid;
  std::unique_ptr<TMaskingSink> FSink;
  uint64_t FMasked = 0, FPixels = 0;
};

// "masked: 41.73 % of pixels"
std::wstring MaskedShareText(uint64_t masked, uint64_t pixels);
