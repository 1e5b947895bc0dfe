// A quick look at a composite for ordinary image viewers: the three bands decoded (optionally
// at a reduced resolution), each mapped to 8 bits as ESA's true-colour image (TCI) is, and
// written as an 8-bit RGB PNG carrying the attribution. A pixel any of whose bands has no data
// is 0, 0, 0 there, as in ESA's TCI, and the PNG marks 0, 0, 0 transparent (valid pixels map to
// at least 1), so viewers and GIS show what lies below.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CompositeJob.h"
#include "Georeference.h"
#include "PixelWindow.h"

struct FIBITMAP;

// The radiometric offset of one band file, from the product's metadata file (MTD_MSIL2A.xml or
// MTD_MSIL1C.xml) in the band's folder or up to four folders above it.
struct TBandOffsetSource {
  int Offset = 0;            // 0 when none was found
  std::wstring MetadataFile;  // empty when there is none
  bool Listed = false;       // the file lists an offset for this band
  std::wstring Unread;       // why the file was not read ("is too large to read"), empty when it was
};
TBandOffsetSource FindBandOffset(const std::wstring& bandPath);

struct TQuicklookResult {
  bool Written = false;
  std::wstring Error;               // why nothing was written
  std::vector<std::wstring> Notes;  // where each band's offset came from, or that it is 0
  unsigned Width = 0, Height = 0;
  uint64_t MaskedPixels = 0;  // with a mask: the pixels that are no data (masked, or a band without data)
  std::optional<TPixelWindow> Window;  // with an area: the part of the grid written
  bool Outside = false;                // the area misses the tile (Error says so)
};

// Writes the quicklook of red, green and blue to path (replacing it only once complete), with
// software as its "Software" text when given: what made it, for a later run to compare. With
// mask, the pixels of its classes in the product's own classification are no data too. With
// area, the quicklook is its window on the grid at 1/2^reduce (Window says which), and with
// polygons what lies outside them is no data.
TQuicklookResult WriteQuicklook(const TBandNames& names, const std::wstring& path, unsigned reduce,
                                const std::string& software = {}, const TMaskClasses* mask = nullptr,
                                const TAreaOfInterest* area = nullptr);

// Writes an 8-bit RGB picture as a quicklook PNG at path, 0, 0, 0 transparent, the way the
// composite goes to disk; false when it could not.
bool SaveQuicklookPng(FIBITMAP* picture, const std::wstring& path);

// The quicklook's name: the composite's with "_ql.png" in place of its extension
// ("..._48.tif" -> "..._48_ql.png").
std::wstring QuicklookName(const std::wstring& compositePath);
