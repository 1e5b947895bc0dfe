// Where the tiles of a codestream lie at a decoded resolution, and how a decoded tile's samples
// reach their place. Shared by the whole-band decoder and the row-by-row stream.
#pragma once
#include <openjpeg.h>

#include <cstdint>

#include "Jp2BandDecoder.h"

struct TTileGrid {
  uint64_t X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;  // the image on the reference grid
  uint64_t TileX0 = 0, TileY0 = 0;          // the tiling's origin
  uint64_t TileWidth = 1, TileHeight = 1;
  uint32_t Across = 0, Down = 0;
  unsigned Reduce = 0;

  struct TPlace {
    uint32_t Column, Row, Width, Height;
  };
  // Tile's rectangle in the picture at the decoded resolution.
  TPlace Place(uint32_t tile) const;

  // The tiling as the library read it from an opened codec; false when it cannot tell.
  static bool FromCodec(opj_codec_t* codec, const opj_image_t& image, unsigned reduce, TTileGrid& grid);
  bool SameAs(const TTileGrid& other) const;
};

// Copies a decoded tile's samples to their place; false when the tile is not what the header
// said or does not fit the target.
bool PlaceTile(const opj_image_t& image, const TTileGrid::TPlace& place, const TSampleTarget& target,
               uint32_t precision);
