// JPEG 2000 header boxes, the GML and GeoTIFF inside them, and product metadata documents.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Jp2GeoBoxes.h"
#include "BandOffset.h"
#include "XmlTree.h"

namespace {
void CheckGrid(const std::optional<TGridGeoreference>& g) {
  if (g && (!IsUtmWgs84(g->Epsg) || !(g->PixelWidth > 0) || !(g->PixelHeight > 0) || !IsFinite(*g))) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckGrid(ParseJp2Grid(data, size).Georeference);
  // The same bytes as the payload of each box kind on its own.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckGrid(jp2geo::GridFromGml(text));
  CheckGrid(jp2geo::GridFromGeoTiff(data, size));
  const TBandOffset offset = BandOffsetFromMetadata(text, 3);
  if (offset.Offset && !offset.Readable) abort();
  if (offset.Readable != (offset.Read == TXmlRead::Read)) abort();
  // A document read is within its bounds, and a refused one leaves nothing behind.
  pugi::xml_document document;
  const TXmlRead read = ReadXml(text, document);
  if ((read == TXmlRead::Read) != static_cast<bool>(document.first_child())) abort();
  if (read == TXmlRead::Read && !document.document_element()) abort();
  if (read == TXmlRead::Read && !ParseXml(text)) abort();
  return 0;
}
