// A job's area of interest on its composite: where it falls on the bands' grid (read from their
// headers before any decoding), the window's outputs, and the pieces that crop and blank the
// picture on either way it takes (row by row into the writer, or the whole Composite).
#pragma once
#include <memory>
#include <string>

#include "AreaWindow.h"
#include "CompositeJob.h"
#include "ImageFiles.h"
#include "PolygonMaskingSink.h"

struct TAreaPlacement {
  enum TKind { Inside, Outside, Unplaced } Kind = Unplaced;
  TPixelWindow Window;     // Inside: the window on the composite's grid
  TGridGeoreference Grid;  // Inside: the whole composite's grid (at its reduction)
  std::wstring Message;    // Outside and Unplaced: what the job says
};

// Reads the bands' georeferencing and the red band's size at 1/2^reduce resolution and places
// area on them. Outside: NoOverlapMessage of the bands' tile.
TAreaPlacement PlaceArea(const TAreaOfInterest& area, const TBandNames& names, unsigned reduce);

// The tile a band file's name carries ("T29UNU" of "T29UNU_20221005T115411_B04_60m.jp2"); the
// file's name when it carries none.
std::wstring TileOfBand(const std::wstring& bandFile);

// "_x512y640w300h200" as it goes into a name.
std::wstring WindowNameTag(const TPixelWindow& window);

// The window of a whole FIT_RGB16 Composite as a Composite of its own; null when it cannot be
// made (memory, a window beyond the picture).
TBitmap CropComposite(FIBITMAP* composite, const TPixelWindow& window);

// Blanks (0, 0, 0) what lies outside the polygons of an area, row by row in front of the
// writer or over a whole cropped Composite.
class TAreaMask {
 public:
  // grid: the whole composite's grid at its reduction; window: the part written.
  TAreaMask(const std::vector<TPolygon>& polygons, const TGridGeoreference& grid, const TPixelWindow& window)
      : FMask(polygons, grid, window) {}
  // A sink in front of sink; valid while both live.
  TRowSink& Wrap(TRowSink& sink);
  // Blanks a Composite of the window's size in place.
  void Apply(FIBITMAP* composite) const;
  // Row y of the window: 1 inside the polygons, 0 outside.
  void Row(uint32_t y, uint8_t* inside) const { FMask.Row(y, inside); }

 private:
  TPolygonMask FMask;
  std::unique_ptr<TPolygonMaskingSink> FSink;
};
