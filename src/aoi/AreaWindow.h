// Where an area of interest falls on a composite's grid: its bounds carried into the tile's UTM
// zone, snapped outward to whole pixels and clipped to the tile; the window's georeferencing and
// the name of a cropped output.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "AreaOfInterest.h"
#include "Georeference.h"
#include "PixelWindow.h"

// Points per edge of a box carried between coordinate systems, as GDAL's TransformBounds takes.
constexpr int kDensifyPoints = 21;

// A longitude/latitude point in the WGS 84 / UTM zone of epsg (IsUtmWgs84), in metres.
void LonLatToUtm(int epsg, double lon, double lat, double& x, double& y);

// The extent in the zone of epsg of a longitude/latitude box, each edge densified to
// kDensifyPoints points. Longitudes more than kZoneReach degrees from the zone's central
// meridian are taken at that distance: the projection loses its meaning beyond, and a tile never
// lies that far out.
constexpr double kZoneReach = 40;
TProjectedBox UtmBounds(const TLonLatBox& box, int epsg);

// The area's extent in the grid's own coordinates.
TProjectedBox GridBounds(const TAreaOfInterest& area, int epsg);

// The pixels of a width x height grid that the extent meets, snapped outward to whole pixels
// and clipped to the grid; nothing when the extent does not meet the grid.
std::optional<TPixelWindow> WindowOnGrid(const TProjectedBox& bounds, const TGridGeoreference& grid,
                                         uint32_t width, uint32_t height);

// The grid of the window alone: the same pixels, its corner moved to the window's.
TGridGeoreference WindowGrid(const TGridGeoreference& grid, const TPixelWindow& window);

// "_x<col>y<row>w<width>h<height>", and a path with it put before the extension.
std::string WindowSuffix(const TPixelWindow& window);
std::wstring WithWindowSuffix(const std::wstring& path, const TPixelWindow& window);

// What a single job or a batch line says when the area misses the tile, e.g. "T29UNU".
std::string NoOverlapMessage(const std::string& tile);
