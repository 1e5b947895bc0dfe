// The front of a cloud-optimised TIFF: the header and every image file directory, laid out
// before any tile data, once the compressed size of every tile is known. Little-endian; BigTIFF
// when the file would pass classic TIFF's 4 GiB.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ImageMetadata.h"

// One resolution of the picture as the layout sees it: its size and its tiles' compressed
// sizes, row by row.
struct TCogLevel {
  uint32_t Width = 0, Height = 0;
  std::vector<uint64_t> TileBytes;
};

struct TCogLayout {
  std::vector<uint8_t> Front;  // header and directories: the file's first bytes
  bool Big = false;            // BigTIFF
};

// Each tile's data is preceded by its size (4 bytes) and followed by a copy of its last 4 bytes,
// as GDAL's COG note in the header says.
constexpr uint64_t kCogTileLeader = 4, kCogTileTrailer = 4;

// levels[0] is the full picture, each next one an overview. Directories go in that order; the
// tile data follows Front in the reverse order (smallest overview first, the full picture last),
// each level's tiles row by row, with nothing between them but their leaders and trailers. The full picture's directory carries
// the metadata; the overviews' carry the nodata value too.
TCogLayout LayOutCog(const std::vector<TCogLevel>& levels, uint32_t tileSize, const TImageMetadata& metadata);
