// What a JPEG 2000 (JP2) band file says about itself before its codestream: the image size and
// where the grid lies on the ground. Sentinel-2 files carry a GML description in an association
// box; files re-encoded by other tools may carry a GeoJP2 box (a small GeoTIFF) instead.
// The parser is a pure function over the header bytes, bounded by them; anything it cannot
// read for certain leaves the georeferencing out rather than guessing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Georeference.h"
#include "Jp2Boxes.h"

struct TJp2Grid {
  uint32_t Width = 0, Height = 0;  // from the image header box; 0 when there is none
  std::optional<TGridGeoreference> Georeference;
};

// data: the file's bytes from its start, at least up to its codestream box (more is ignored).
TJp2Grid ParseJp2Grid(const uint8_t* data, size_t size);

// The boxes before the codestream, read box by box from the file (never the codestream itself),
// at most kJp2HeaderReadLimit bytes. Empty when the file cannot be read.
std::vector<uint8_t> ReadJp2HeaderBoxes(const std::filesystem::path& path);
TJp2Grid ReadJp2Grid(const std::filesystem::path& path);

// The pieces, for the tests and the fuzzer.
namespace jp2geo {
// The grid of a GML RectifiedGrid document; the origin is the centre of the first pixel.
std::optional<TGridGeoreference> GridFromGml(std::string_view xml);
// The grid of the GeoTIFF inside a GeoJP2 box (the bytes after its 16-byte UUID).
std::optional<TGridGeoreference> GridFromGeoTiff(const uint8_t* data, size_t size);
// The EPSG code of an srsName ("urn:ogc:def:crs:EPSG::32629", "EPSG:32629", ".../EPSG/0/32629").
std::optional<int> EpsgFromSrsName(std::string_view srsName);
}  // namespace jp2geo
