#include "CloudMask.h"

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

// The three one-bit layers come as one code stream of three components (with a colour
// transform), which the band decoder does not take: tile by tile here, on this thread.
bool DecodeCloudClasses(const TMaskSource& source, const TJp2Header& header, const TMaskClasses& classes,
                        const TWorkCallbacks& callbacks, std::vector<uint8_t>& masked, std::string& error) {
  const bool layer[kCloudComponents] = {classes.Has(8) || classes.Has(9), classes.Has(10), classes.Has(11)};
  if (header.Components != kCloudComponents || header.Signed || header.Subsampled || header.X0 || header.Y0) {
    error = "not a three-layer cloud classification";
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
  masked.assign(static_cast<size_t>(header.Width) * header.Height, 0);
  const uint32_t tiles = header.TilesAcross * header.TilesDown;
  for (uint32_t tile = 0; tile < tiles; ++tile) {
    if (!codec.DecodeTile(tile)) {
      error = codec.Error();
      return false;
    }
    const opj_image_t& image = *codec.Image();
    const uint32_t left = (tile % header.TilesAcross) * header.TileWidth;
    const uint32_t top = (tile / header.TilesAcross) * header.TileHeight;
    const uint32_t width = image.comps[0].w, height = image.comps[0].h;
    if (image.numcomps != kCloudComponents || uint64_t{left} + width > header.Width ||
        uint64_t{top} + height > header.Height) {
      error = "tile " + std::to_string(tile) + " does not match the header";
      return false;
    }
    for (uint32_t c = 0; c < kCloudComponents; ++c) {
      if (!layer[c]) continue;
      const opj_image_comp_t& component = image.comps[c];
      if (component.w != width || component.h != height || !component.data) {
        error = "tile " + std::to_string(tile) + " does not match the header";
        return false;
      }
      for (uint32_t y = 0; y < height; ++y) {
        const OPJ_INT32* in = component.data + static_cast<size_t>(y) * width;
        uint8_t* out = masked.data() + static_cast<size_t>(top + y) * header.Width + left;
        for (uint32_t x = 0; x < width; ++x) out[x] |= in[x] != 0;
      }
    }
    if (callbacks.KeepAlive) callbacks.KeepAlive();
    if (callbacks.Progress) callbacks.Progress(tile + 1, tiles);
  }
  return true;
}
}  // namespace

int64_t NearestSourceIndex(double targetStart, double targetStep, uint32_t index, double sourceStart,
                           double sourceStep, uint32_t size) {
  const double centre = targetStart + (index + 0.5) * targetStep;
  const double at = std::floor((centre - sourceStart) / sourceStep + kEdgeNudge);
  return at < 0 || at >= size ? -1 : static_cast<int64_t>(at);
}

bool TCloudMask::Load(const TMaskSource& source, const TMaskClasses& classes, const TWorkCallbacks& callbacks,
                      std::string& error) {
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
  try {
    const bool decoded = source.Kind == TMaskKind::SceneClassification
                             ? DecodeSceneClasses(source, header, classes, callbacks, FMasked, why)
                             : DecodeCloudClasses(source, header, classes, callbacks, FMasked, why);
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
