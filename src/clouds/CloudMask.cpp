#include "CloudMask.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "Jp2BandDecoder.h"
#include "Jp2Header.h"
#include "Jp2Codec.h"
#include "Jp2File.h"

namespace {
// MSK_CLASSI_B00's components, in this order.
enum TCloudComponent : uint32_t { kOpaque = 0, kCirrus = 1, kSnow = 2, kCloudComponents = 3 };
// GDAL nudges a centre that lands exactly on a source edge into the pixel after it.
constexpr double kEdgeNudge = 1e-10;

bool DecodeSceneClasses(const TMaskSource& source, const TJp2Header& header, const TMaskClasses& classes,
                        const TWorkCallbacks& callbacks, std::vector<uint8_t>& masked, std::string& error) {
  if (!header.IsPlainBand()) {
    error = "not a single-component classification";
    return false;
  }
  std::vector<uint16_t> samples(static_cast<size_t>(header.Width) * header.Height);
  TSampleTarget target;
  target.Width = header.Width;
  target.Height = header.Height;
  target.Row = [&samples, &header](uint32_t y) { return samples.data() + static_cast<size_t>(y) * header.Width; };
  if (!DecodeJp2Band(source.File, target, TJp2DecodeOptions{}, callbacks, error)) return false;
  masked.resize(samples.size());
  for (size_t k = 0; k < samples.size(); ++k) masked[k] = classes.Has(samples[k]) ? 1 : 0;
  return true;
}

// A rectangle of the mask's own pixels.
struct TMaskRegion {
  uint32_t Col = 0, Row = 0, Width = 0, Height = 0;
};

// Decodes, tile by tile on this thread, the code-stream tiles that meet region and hands each
// decoded tile to take, with the tile's corner in the mask. The three one-bit layers of
// MSK_CLASSI come as one code stream of three components (with a colour transform), which the
// band decoder does not take; a classification under a window goes this way too.
template <typename Take>
bool DecodeTiles(const TMaskSource& source, const TJp2Header& header, const TMaskRegion& region,
                 const TWorkCallbacks& callbacks, std::string& error, Take take) {
  if (header.X0 || header.Y0 || header.TileX0 || header.TileY0 || !header.TileWidth || !header.TileHeight) {
    error = "its tiles do not start at the picture's corner";
    return false;
  }
  TJp2File file;
  TJp2Codec codec;
  if (!file.Open(source.File)) {
    error = "cannot open the file";
    return false;
  }
  if (!codec.Open(file, header)) {
    error = codec.Error();
    return false;
  }
  if (!region.Width || !region.Height) return true;
  const uint32_t firstColumn = region.Col / header.TileWidth, lastColumn = (region.Col + region.Width - 1) / header.TileWidth;
  const uint32_t firstRow = region.Row / header.TileHeight, lastRow = (region.Row + region.Height - 1) / header.TileHeight;
  const uint32_t tiles = (lastColumn - firstColumn + 1) * (lastRow - firstRow + 1);
  uint32_t done = 0;
  for (uint32_t row = firstRow; row <= lastRow && row < header.TilesDown; ++row) {
    for (uint32_t column = firstColumn; column <= lastColumn && column < header.TilesAcross; ++column) {
      const uint32_t tile = row * header.TilesAcross + column;
      if (!codec.DecodeTile(tile)) {
        error = codec.Error();
        return false;
      }
      const opj_image_t& image = *codec.Image();
      const uint32_t left = column * header.TileWidth, top = row * header.TileHeight;
      const uint32_t width = image.comps[0].w, height = image.comps[0].h;
      bool fits = uint64_t{left} + width <= header.Width && uint64_t{top} + height <= header.Height;
      for (uint32_t c = 0; c < image.numcomps; ++c)
        fits = fits && image.comps[c].w == width && image.comps[c].h == height && image.comps[c].data;
      if (!fits) {
        error = "tile " + std::to_string(tile) + " does not match the header";
        return false;
      }
      take(image, left, top, width, height);
      if (callbacks.KeepAlive) callbacks.KeepAlive();
      if (callbacks.Progress) callbacks.Progress(++done, tiles);
    }
  }
  return true;
}

// For each pixel of a decoded tile that lies in region: visit(index in the tile, index in the
// region).
template <typename Visit>
void ForRegionPixels(const TMaskRegion& region, uint32_t left, uint32_t top, uint32_t width, uint32_t height,
                     Visit visit) {
  const uint32_t x0 = std::max(left, region.Col), x1 = std::min(left + width, region.Col + region.Width);
  const uint32_t y0 = std::max(top, region.Row), y1 = std::min(top + height, region.Row + region.Height);
  for (uint32_t y = y0; y < y1; ++y)
    for (uint32_t x = x0; x < x1; ++x)
      visit(static_cast<size_t>(y - top) * width + (x - left),
            static_cast<size_t>(y - region.Row) * region.Width + (x - region.Col));
}

bool DecodeSceneClassesIn(const TMaskSource& source, const TJp2Header& header, const TMaskClasses& classes,
                          const TMaskRegion& region, const TWorkCallbacks& callbacks, std::vector<uint8_t>& masked,
                          std::string& error) {
  if (!header.IsPlainBand()) {
    error = "not a single-component classification";
    return false;
  }
  masked.assign(static_cast<size_t>(region.Width) * region.Height, 0);
  return DecodeTiles(source, header, region, callbacks, error,
                     [&](const opj_image_t& image, uint32_t left, uint32_t top, uint32_t width, uint32_t height) {
                       const OPJ_INT32* in = image.comps[0].data;
                       ForRegionPixels(region, left, top, width, height, [&](size_t from, size_t to) {
                         masked[to] = in[from] >= 0 && in[from] <= 0xFFFF && classes.Has(static_cast<uint16_t>(in[from]));
                       });
                     });
}

bool DecodeCloudClasses(const TMaskSource& source, const TJp2Header& header, const TMaskClasses& classes,
                        const TMaskRegion& region, const TWorkCallbacks& callbacks, std::vector<uint8_t>& masked,
                        std::string& error) {
  const bool layer[kCloudComponents] = {classes.Has(8) || classes.Has(9), classes.Has(10), classes.Has(11)};
  if (header.Components != kCloudComponents || header.Signed || header.Subsampled || header.X0 || header.Y0) {
    error = "not a three-layer cloud classification";
    return false;
  }
  masked.assign(static_cast<size_t>(region.Width) * region.Height, 0);
  return DecodeTiles(source, header, region, callbacks, error,
                     [&](const opj_image_t& image, uint32_t left, uint32_t top, uint32_t width, uint32_t height) {
                       for (uint32_t c = 0; c < kCloudComponents && c < image.numcomps; ++c) {
                         if (!layer[c]) continue;
                         const OPJ_INT32* in = image.comps[c].data;
                         ForRegionPixels(region, left, top, width, height,
                                         [&](size_t from, size_t to) { masked[to] |= in[from] != 0; });
                       }
                     });
}

// The mask's pixels under the centres of over's pixels: from the first to the last in each
// direction, clipped to the mask; empty when over lies wholly beside it.
TMaskRegion RegionUnder(const TPlacedGrid& over, const TGridGeoreference& mask, uint32_t width, uint32_t height) {
  const auto span = [](double start, double step, uint32_t count, double maskStart, double maskStep, uint32_t size,
                       uint32_t& first, uint32_t& length) {
    first = length = 0;
    if (count == 0 || size == 0) return;
    const double a = std::floor((start + 0.5 * step - maskStart) / maskStep + kEdgeNudge);
    const double b = std::floor((start + (count - 0.5) * step - maskStart) / maskStep + kEdgeNudge);
    const double lo = std::max(a, 0.0), hi = std::min(b, double(size) - 1);
    if (!(lo <= hi)) return;
    first = static_cast<uint32_t>(lo);
    length = static_cast<uint32_t>(hi - lo) + 1;
  };
  TMaskRegion region;
  const TGridGeoreference& to = over.Georeference;
  span(to.Left, to.PixelWidth, over.Width, mask.Left, mask.PixelWidth, width, region.Col, region.Width);
  // Rows run down from the top edge: negated, as Rows takes them.
  span(-to.Top, to.PixelHeight, over.Height, -mask.Top, mask.PixelHeight, height, region.Row, region.Height);
  if (!region.Width || !region.Height) region = {};
  return region;
}
}  // namespace

int64_t NearestSourceIndex(double targetStart, double targetStep, uint32_t index, double sourceStart,
                           double sourceStep, uint32_t size) {
  const double centre = targetStart + (index + 0.5) * targetStep;
  const double at = std::floor((centre - sourceStart) / sourceStep + kEdgeNudge);
  return at < 0 || at >= size ? -1 : static_cast<int64_t>(at);
}

bool TCloudMask::Load(const TMaskSource& source, const TMaskClasses& classes, const TWorkCallbacks& callbacks,
                      std::string& error, const TPlacedGrid* over) {
  const std::string name = source.File.filename().u8string();
  TJp2Header header;
  std::string why;
  if (source.Kind == TMaskKind::None || ReadJp2Header(source.File, header, why) != TJp2HeaderStatus::Read) {
    error = "cannot read the cloud mask " + name + (why.empty() ? "" : ": " + why);
    return false;
  }
  if (!header.Georeference) {
    error = "the cloud mask " + name + " carries no georeferencing";
    return false;
  }
  FGrid.Georeference = *header.Georeference;
  FGrid.Width = header.Width;
  FGrid.Height = header.Height;
  // Under a window only the part of the mask beneath it is decoded, and the mask is that part.
  TMaskRegion region{0, 0, header.Width, header.Height};
  if (over && over->Georeference.Epsg == FGrid.Georeference.Epsg) {
    region = RegionUnder(*over, FGrid.Georeference, header.Width, header.Height);
    FGrid.Georeference.Left += region.Col * FGrid.Georeference.PixelWidth;
    FGrid.Georeference.Top -= region.Row * FGrid.Georeference.PixelHeight;
    FGrid.Width = region.Width;
    FGrid.Height = region.Height;
  }
  try {
    const bool whole = region.Width == header.Width && region.Height == header.Height;
    const bool decoded = source.Kind == TMaskKind::CloudClassification
                             ? DecodeCloudClasses(source, header, classes, region, callbacks, FMasked, why)
                         : whole ? DecodeSceneClasses(source, header, classes, callbacks, FMasked, why)
                                 : DecodeSceneClassesIn(source, header, classes, region, callbacks, FMasked, why);
    if (!decoded) {
      FMasked.clear();
      error = "cannot decode the cloud mask " + name + ": " + why;
      return false;
    }
  } catch (const std::bad_alloc&) {
    FMasked.clear();
    error = "not enough memory for the cloud mask " + name;
    return false;
  }
  FOutside = source.Kind == TMaskKind::SceneClassification && classes.Has(0) ? 1 : 0;
  return true;
}

bool TCloudMask::Covers(const TPlacedGrid& target, std::string& error) const {
  if (target.Georeference.Epsg != FGrid.Georeference.Epsg) {
    error = "the cloud mask lies in EPSG:" + std::to_string(FGrid.Georeference.Epsg) + ", the picture in EPSG:" +
            std::to_string(target.Georeference.Epsg);
    return false;
  }
  return true;
}

void TCloudMask::Rows(const TPlacedGrid& target, uint32_t first, uint32_t count, uint8_t* out) const {
  const TGridGeoreference& to = target.Georeference;
  const TGridGeoreference& from = FGrid.Georeference;
  std::vector<int64_t> columns(target.Width);
  for (uint32_t x = 0; x < target.Width; ++x)
    columns[x] = NearestSourceIndex(to.Left, to.PixelWidth, x, from.Left, from.PixelWidth, FGrid.Width);
  for (uint32_t y = 0; y < count; ++y) {
    // Rows run down from the top edge: negated, so that the same floor applies.
    const int64_t row = NearestSourceIndex(-to.Top, to.PixelHeight, first + y, -from.Top, from.PixelHeight, FGrid.Height);
    uint8_t* line = out + static_cast<size_t>(y) * target.Width;
    if (row < 0) {
      std::fill(line, line + target.Width, FOutside);
      continue;
    }
    const uint8_t* source = FMasked.data() + static_cast<size_t>(row) * FGrid.Width;
    for (uint32_t x = 0; x < target.Width; ++x) line[x] = columns[x] < 0 ? FOutside : source[columns[x]];
  }
}
