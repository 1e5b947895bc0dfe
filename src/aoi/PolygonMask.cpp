#include "PolygonMask.h"

#include <algorithm>
#include <cmath>
#include <cstring>

TPolygonMask::TPolygonMask(const std::vector<TPolygon>& polygons, const TGridGeoreference& grid,
                           const TPixelWindow& window)
    : FWidth(window.Width), FHeight(window.Height) {
  for (const TPolygon& polygon : polygons) {
    std::vector<TEdge> edges;
    for (const TRing& ring : polygon.Rings) {
      // Vertices carried one by one, as a vector layer is reprojected for rasterizing.
      std::vector<std::pair<double, double>> pixels;
      pixels.reserve(ring.size());
      for (const TLonLat& p : ring) {
        double x, y;
        LonLatToUtm(grid.Epsg, p.Lon, p.Lat, x, y);
        pixels.emplace_back((x - grid.Left) / grid.PixelWidth - window.Col,
                            (grid.Top - y) / grid.PixelHeight - window.Row);
      }
      for (size_t i = 1; i < pixels.size(); ++i) {
        auto a = pixels[i - 1], b = pixels[i];
        if (a.second == b.second) continue;  // a horizontal edge crosses no row centre
        if (a.second > b.second) std::swap(a, b);
        edges.push_back({a.first, a.second, b.first, b.second});
      }
    }
    FPolygons.push_back(std::move(edges));
  }
}

void TPolygonMask::Row(uint32_t row, uint8_t* inside) const {
  std::memset(inside, 0, FWidth);
  const double y = row + 0.5;
  std::vector<double> crossings;
  for (const std::vector<TEdge>& edges : FPolygons) {
    crossings.clear();
    for (const TEdge& e : edges)
      if (y >= e.Y1 && y < e.Y2) crossings.push_back(e.X1 + (y - e.Y1) * (e.X2 - e.X1) / (e.Y2 - e.Y1));
    std::sort(crossings.begin(), crossings.end());
    // Even-odd between pairs of crossings: pixel j (centre j + 0.5) is filled when
    // floor(a + 0.5) <= j <= floor(b - 0.5).
    for (size_t i = 0; i + 1 < crossings.size(); i += 2) {
      const double first = std::max(std::floor(crossings[i] + 0.5), 0.0);
      const double last = std::min(std::floor(crossings[i + 1] - 0.5), double(FWidth) - 1);
      for (double j = first; j <= last; ++j) inside[size_t(j)] = 1;
    }
  }
}
