#include "Jp2Tiles.h"

#include <algorithm>

namespace {
uint64_t CeilDivPow2(uint64_t value, unsigned power) { return (value + (uint64_t{1} << power) - 1) >> power; }
}  // namespace

TTileGrid::TPlace TTileGrid::Place(uint32_t tile) const {
  const uint64_t i = tile % Across, j = tile / Across;
  const uint64_t tx0 = std::max(TileX0 + i * TileWidth, X0), tx1 = std::min(TileX0 + (i + 1) * TileWidth, X1);
  const uint64_t ty0 = std::max(TileY0 + j * TileHeight, Y0), ty1 = std::min(TileY0 + (j + 1) * TileHeight, Y1);
  const uint64_t left = CeilDivPow2(tx0, Reduce), top = CeilDivPow2(ty0, Reduce);
  return {static_cast<uint32_t>(left - CeilDivPow2(X0, Reduce)), static_cast<uint32_t>(top - CeilDivPow2(Y0, Reduce)),
          static_cast<uint32_t>(CeilDivPow2(tx1, Reduce) - left), static_cast<uint32_t>(CeilDivPow2(ty1, Reduce) - top)};
}

bool TTileGrid::FromCodec(opj_codec_t* codec, const opj_image_t& image, unsigned reduce, TTileGrid& grid) {
  opj_codestream_info_v2_t* info = opj_get_cstr_info(codec);
  if (!info) return false;
  grid = {image.x0, image.y0, image.x1, image.y1, info->tx0, info->ty0, info->tdx, info->tdy, info->tw, info->th,
          reduce};
  opj_destroy_cstr_info(&info);
  return grid.TileWidth > 0 && grid.TileHeight > 0 && grid.Across > 0 && grid.Down > 0;
}

bool TTileGrid::SameAs(const TTileGrid& o) const {
  return X0 == o.X0 && Y0 == o.Y0 && X1 == o.X1 && Y1 == o.Y1 && TileX0 == o.TileX0 && TileY0 == o.TileY0 &&
         TileWidth == o.TileWidth && TileHeight == o.TileHeight && Across == o.Across && Down == o.Down &&
         Reduce == o.Reduce;
}

bool PlaceTile(const opj_image_t& image, const TTileGrid::TPlace& place, const TSampleTarget& target,
               uint32_t precision) {
  const opj_image_comp_t& component = image.comps[0];
  if (image.numcomps != 1 || component.prec != precision || component.sgnd || component.w != place.Width ||
      component.h != place.Height || uint64_t{place.Column} + place.Width > target.Width ||
      uint64_t{place.Row} + place.Height > target.Height)
    return false;
  const size_t step = target.PixelStep;
  for (uint32_t y = 0; y < place.Height; ++y) {
    uint16_t* row = target.Row(place.Row + y);
    if (!row) return false;
    uint16_t* out = row + size_t{place.Column} * step;
    const OPJ_INT32* in = component.data + size_t{y} * place.Width;
    // The library keeps every sample within the component's precision, at most 16 bits here.
    if (step == 1) {
      for (uint32_t x = 0; x < place.Width; ++x) out[x] = static_cast<uint16_t>(in[x]);
    } else {
      for (uint32_t x = 0; x < place.Width; ++x) out[x * step] = static_cast<uint16_t>(in[x]);
    }
  }
  return true;
}
