// Which Sentinel-2 band a file holds, and the radiometric offset the product's metadata file
// gives for it (added to a band's digital numbers before they mean reflectance).
#pragma once
#include <optional>
#include <string_view>

#include "XmlTree.h"

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
