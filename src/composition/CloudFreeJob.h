// The cloud-free picture of one tile from several dates: every date's three bands streamed by
// rows of code-stream tiles side by side, each masked with its own product's classification,
// and per pixel and band the median of the clear dates written as one 48-bit picture.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "AreaOfInterest.h"
#include "Georeference.h"
#include "MaskClasses.h"
#include "SaveFormat.h"
#include "WorkCallbacks.h"

struct TCloudFreeRequest {
  std::vector<std::wstring> Bands;  // one band file of each date (any band of its set)
  TMaskClasses Classes = TMaskClasses::Default();
  TSaveFormat Format = TSaveFormat::Tiff;
  std::wstring OutFolder;  // ending in its delimiter; empty: the current folder
  bool Quicklook = false;  // also an 8-bit quicklook PNG, "..._cloudfree_ql.png"
  unsigned Reduce = 0;     // the quicklook at 1/2^Reduce resolution (blocks averaged)
  // Every date over the window of this area only (the caller keeps it alive), the name carrying
  // the window; with polygons, what lies outside them is no data. Null: the whole tile.
  const TAreaOfInterest* Area = nullptr;
};

struct TCloudFreeResult {
  bool Written = false;
  std::wstring Output;  // the picture's path, once known
  std::wstring Error;   // why nothing was written
  std::wstring Quicklook;       // the quicklook's path, once written
  std::wstring QuicklookError;  // why the quicklook asked for was not written
  std::vector<std::wstring> Notes;  // where the quicklook's offsets came from
  std::optional<TGridGeoreference> Grid;  // where the picture lies, once written
  uint64_t Pixels = 0;
  uint64_t EmptyPixels = 0;  // clear on no date: no data
  bool Outside = false;      // the area misses the tile (Error says so); nothing written
};

// The picture's name: the tile, the first and last dates, the resolution of L2A bands and the
// format, e.g. "T29UNU_20220905_20221015_48_60m_cloudfree.tif", in the output folder. Empty,
// with the reason, when the bands' names do not say tile and date.
std::wstring CloudFreeName(const TCloudFreeRequest& request, std::wstring& error);

// Checks every date against the first (the same tile, resolution and grid), places the area on
// it when one is asked for (the name then gets the window before its extension), finds and decodes
// every date's mask, then writes the picture (replacing it only once complete). The progress
// counts the picture's rows written.
TCloudFreeResult RunCloudFree(const TCloudFreeRequest& request, const TWorkCallbacks& callbacks);
