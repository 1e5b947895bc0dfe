// Which pixels of a window lie inside an area's polygons: a pixel is inside when its centre is
// inside any polygon (inside the outer ring and outside its holes), decided row by row as
// gdal_rasterize decides it, so that edges shared by two polygons give each pixel to one.
#pragma once
#include <cstdint>
#include <vector>

#include "AreaOfInterest.h"
#include "AreaWindow.h"

class TPolygonMask {
 public:
  // polygons in longitude/latitude; grid is the composite's (at its reduction) in the UTM zone
  // it carries, window the part of it the mask covers.
  TPolygonMask(const std::vector<TPolygon>& polygons, const TGridGeoreference& grid, const TPixelWindow& window);

  uint32_t Width() const { return FWidth; }
  uint32_t Height() const { return FHeight; }
  // window.Width values for row (counted from the window's top): 1 inside, 0 outside.
  void Row(uint32_t row, uint8_t* inside) const;

 private:
  struct TEdge {
    double X1, Y1, X2, Y2;  // window pixel coordinates, Y1 < Y2
  };
  uint32_t FWidth, FHeight;
  std::vector<std::vector<TEdge>> FPolygons;  // each polygon's edges, holes included
};
