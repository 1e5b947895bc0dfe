// What a JPEG 2000 file's headers say about its picture, read without decoding a sample: the
// size, the tiling, the components, where the codestream lies and where the grid lies on the
// ground.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Georeference.h"

enum class TJp2Container { Jp2, Codestream };

// What a file's headers say, read without decoding a sample.
struct TJp2Header {
  TJp2Container Container = TJp2Container::Jp2;
  uint32_t Width = 0, Height = 0;  // at full resolution
  uint32_t X0 = 0, Y0 = 0;          // where the picture starts on the codestream's grid
  // The first component as a decoder gives it: the picture's grid points it samples, fewer
  // than Width x Height when it is subsampled. A loaded band has this size.
  uint32_t ComponentWidth = 0, ComponentHeight = 0;
  uint32_t ComponentStepX = 1, ComponentStepY = 1;  // its sampling step on the grid (SIZ dx, dy)
  uint32_t Components = 0;
  uint32_t Precision = 0;   // bits of the first component
  bool Signed = false;      // some component holds signed samples
  bool Subsampled = false;  // some component is sampled more sparsely than the grid
  bool Palette = false;     // a JP2 palette, component mapping or channel definition box
  uint32_t TileWidth = 0, TileHeight = 0, TilesAcross = 0, TilesDown = 0;
  uint32_t TileX0 = 0, TileY0 = 0;  // where the tiling starts on the grid
  uint32_t Resolutions = 0;  // of the main header's coding style; reductions go up to one less
  // Where the codestream lies in the file. BrokenBoxes: a box before it claims more than the
  // file holds (a damaged metadata box); the codestream box was found behind it and is read on
  // its own, and the boxes from the broken one on, georeferencing included, count for nothing.
  uint64_t CodestreamStart = 0, CodestreamEnd = 0;
  bool BrokenBoxes = false;
  // The grid on the ground from the GeoJP2 or GML boxes, as ReadJp2Grid gives it.
  std::optional<TGridGeoreference> Georeference;

  // One unsigned component of 1 to 16 bits on the full grid, no palette: what DecodeJp2Band
  // decodes. Everything else is left to other readers.
  bool IsPlainBand() const;
  // The picture's size at 1/2^reduce of the full resolution.
  uint32_t WidthAt(unsigned reduce) const;
  uint32_t HeightAt(unsigned reduce) const;
  // The size a band loads at: its component's at full resolution (a subsampled band's is
  // smaller than the picture), the picture's at 1/2^reduce (only plain bands are reduced).
  uint32_t LoadedWidth(unsigned reduce) const { return reduce ? WidthAt(reduce) : ComponentWidth; }
  uint32_t LoadedHeight(unsigned reduce) const { return reduce ? HeightAt(reduce) : ComponentHeight; }
};

enum class TJp2HeaderStatus {
  Read,        // the header is in TJp2Header
  NotOpened,   // not JPEG 2000, or a form this reader does not follow: another reader may try
  Impossible,  // JPEG 2000 whose header claims more than the file or this machine can hold
};

TJp2HeaderStatus ReadJp2Header(const std::filesystem::path& path, TJp2Header& header, std::string& error);
