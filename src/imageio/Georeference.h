// A north-up grid in a WGS 84 / UTM coordinate system (the only kind Sentinel-2 tiles use) and
// the forms it is written in: GeoTIFF tags, a world file and the coordinate system as WKT for
// GDAL's .aux.xml.
#pragma once
#include <optional>
#include <string>

#include "ImageMetadata.h"

struct TGridGeoreference {
  int Epsg = 0;                      // 32601..32660 (north) or 32701..32760 (south)
  double Left = 0, Top = 0;          // the outer corner of the first pixel, in metres
  double PixelWidth = 0, PixelHeight = 0;  // > 0; x grows to the east, y shrinks down the rows

  bool operator==(const TGridGeoreference& o) const {
    return Epsg == o.Epsg && Left == o.Left && Top == o.Top && PixelWidth == o.PixelWidth &&
           PixelHeight == o.PixelHeight;
  }
  bool operator!=(const TGridGeoreference& o) const { return !(*this == o); }
};

// True for the EPSG codes of WGS 84 / UTM zones 1..60, north and south.
bool IsUtmWgs84(int epsg);

// True when every number the forms below write for the grid is finite: its corner, its pixel
// size and the centre of its first pixel. A grid that is not has its georeferencing dropped.
bool IsFinite(const TGridGeoreference& grid);

// The grid of the same area decoded at 1/2^reduce resolution: each pixel 2^reduce times larger.
// Nothing when the larger pixels no longer have finite numbers.
std::optional<TGridGeoreference> ReducedGrid(const TGridGeoreference& grid, unsigned reduce);

// The forms take a grid for which IsFinite holds.
// ModelPixelScale, ModelTiepoint at the first pixel's corner and a GeoKeyDirectory with the
// model type projected, the raster type PixelIsArea and the projected coordinate system.
TGeoTiffTags GeoTiffTagsFor(const TGridGeoreference& grid);

// The six lines of a world file: pixel size, two zero rotations, the negative pixel height and
// the centre of the first pixel.
std::string WorldFileText(const TGridGeoreference& grid);

// The coordinate system as WKT 1 with its EPSG authority, e.g. "WGS 84 / UTM zone 29N".
std::string UtmWkt(int epsg);

// A GDAL auxiliary file (.aux.xml) holding the coordinate system.
std::string PamXmlText(const TGridGeoreference& grid);

// A double written so that it reads back exactly, independent of the locale ("60", "499980").
std::string ExactNumber(double value);
