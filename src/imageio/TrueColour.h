// ESA's true-colour image (TCI) mapping from a band's digital numbers to 8 bits, and the
// radiometric offset a product's metadata file gives for each band.
//
// Measured on ESA's own TCI of a processing-baseline 04.00 product: with d = number + offset
// (offset -1000), every pixel with d > 0 is min(255, 1 + floor(d * 254 / 2500)), i.e.
// reflectance 0 .. 0.25 at the quantification value 10000 spread over 1 .. 255. ESA writes 0
// for no data (number 0) and also for d <= 0; here a valid pixel that dark becomes 1, so that
// no data stays the one value 0.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "XmlTree.h"

inline uint8_t TrueColourByte(uint16_t number, int offset) {
  if (number == 0) return 0;
  const int32_t d = static_cast<int32_t>(number) + offset;
  if (d <= 0) return 1;
  const int32_t v = 1 + d * 254 / 2500;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

// The band numbers the metadata files use: B01 0, B02 1, ..., B08 7, B8A 8, B09 9, ..., B12 12.
// From a file name such as "T29UNU_20221005T115411_B04_60m.jp2" or "B04.jp2" (the last band code
// in it); nothing when there is none.
std::optional<int> Sentinel2BandId(std::string_view fileName);

struct TBandOffset {
  bool Readable = false;       // the document was read
  std::optional<int> Offset;   // BOA_ADD_OFFSET (L2A) or RADIO_ADD_OFFSET (L1C) of the band
  TXmlRead Read = TXmlRead::NotXml;  // why it was not, when not
};
// From the text of MTD_MSIL2A.xml or MTD_MSIL1C.xml. Products before baseline 04.00 list no
// offsets: Readable with no Offset.
TBandOffset BandOffsetFromMetadata(std::string_view xml, int bandId);
