#include "AreaWindow.h"

#include <GeographicLib/TransverseMercator.hpp>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
double CentralMeridian(int epsg) { return (epsg % 100) * 6.0 - 183.0; }
bool North(int epsg) { return epsg < 32700; }

// Whole pixels with a tolerance, so that an edge computed a rounding error beside a pixel
// boundary snaps to that boundary instead of taking a pixel more.
constexpr double kSnapTolerance = 1e-6;
}  // namespace

void LonLatToUtm(int epsg, double lon, double lat, double& x, double& y) {
  const double lon0 = CentralMeridian(epsg);
  GeographicLib::TransverseMercator::UTM().Forward(lon0, lat, lon, x, y);
  x += 500000.0;
  if (!North(epsg)) y += 10000000.0;
}

TProjectedBox UtmBounds(const TLonLatBox& box, int epsg) {
  const double lon0 = CentralMeridian(epsg);
  const double west = std::clamp(box.West, lon0 - kZoneReach, lon0 + kZoneReach);
  const double east = std::clamp(box.East, lon0 - kZoneReach, lon0 + kZoneReach);
  TProjectedBox out{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                    -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  auto take = [&](double lon, double lat) {
    double x, y;
    LonLatToUtm(epsg, lon, lat, x, y);
    out.MinX = std::min(out.MinX, x);
    out.MaxX = std::max(out.MaxX, x);
    out.MinY = std::min(out.MinY, y);
    out.MaxY = std::max(out.MaxY, y);
  };
  // Each edge from its first corner in kDensifyPoints + 1 steps, the last corner being the
  // next edge's first, as GDAL's TransformBounds walks them.
  const int steps = kDensifyPoints + 1;
  const double dx = (east - west) / steps, dy = (box.North - box.South) / steps;
  for (int i = 0; i < steps; ++i) {
    take(west + i * dx, box.South);
    take(east, box.South + i * dy);
    take(east - i * dx, box.North);
    take(west, box.North - i * dy);
  }
  return out;
}

TProjectedBox GridBounds(const TAreaOfInterest& area, int epsg) {
  if (area.Kind == TAreaKind::ProjectedBox) return area.Projected;
  return UtmBounds(area.LonLat, epsg);
}

std::optional<TPixelWindow> WindowOnGrid(const TProjectedBox& bounds, const TGridGeoreference& grid,
                                         uint32_t width, uint32_t height) {
  if (grid.PixelWidth <= 0 || grid.PixelHeight <= 0) return std::nullopt;
  const double left = std::floor((bounds.MinX - grid.Left) / grid.PixelWidth + kSnapTolerance);
  const double right = std::ceil((bounds.MaxX - grid.Left) / grid.PixelWidth - kSnapTolerance);
  const double top = std::floor((grid.Top - bounds.MaxY) / grid.PixelHeight + kSnapTolerance);
  const double bottom = std::ceil((grid.Top - bounds.MinY) / grid.PixelHeight - kSnapTolerance);
  if (!(std::isfinite(left) && std::isfinite(right) && std::isfinite(top) && std::isfinite(bottom)))
    return std::nullopt;
  const double c0 = std::max(left, 0.0), c1 = std::min(right, double(width));
  const double r0 = std::max(top, 0.0), r1 = std::min(bottom, double(height));
  if (c0 >= c1 || r0 >= r1) return std::nullopt;
  return TPixelWindow{uint32_t(c0), uint32_t(r0), uint32_t(c1 - c0), uint32_t(r1 - r0)};
}

TGridGeoreference WindowGrid(const TGridGeoreference& grid, const TPixelWindow& window) {
  TGridGeoreference out = grid;
  out.Left = grid.Left + window.Col * grid.PixelWidth;
  out.Top = grid.Top - window.Row * grid.PixelHeight;
  return out;
}

std::string WindowSuffix(const TPixelWindow& w) {
  return "_x" + std::to_string(w.Col) + "y" + std::to_string(w.Row) + "w" + std::to_string(w.Width) + "h" +
         std::to_string(w.Height);
}

std::wstring WithWindowSuffix(const std::wstring& path, const TPixelWindow& window) {
  const std::string suffix = WindowSuffix(window);
  const std::wstring wide(suffix.begin(), suffix.end());
  const size_t slash = path.find_last_of(L"/\\:");
  const size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return path + wide;
  return path.substr(0, dot) + wide + path.substr(dot);
}

std::string NoOverlapMessage(const std::string& tile) {
  return "The area of interest does not overlap tile " + tile;
}
