// Writes JPEG 2000 test files with OpenJPEG's encoder: any size, depth, sign, component count,
// tiling, resolution levels, code-block and precinct size, so a test can make exactly the file
// whose decoding it checks. Lossless, one quality layer.
#pragma once
#include <openjpeg.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace jp2encode {

struct TLayout {
  uint32_t Width = 1, Height = 1;
  uint32_t X0 = 0, Y0 = 0;  // the picture's offset on the grid; tiles start at 0, 0
  uint32_t Components = 1;
  uint32_t Precision = 15;
  bool Signed = false;
  uint32_t TileWidth = 0, TileHeight = 0;  // 0: one tile
  int Resolutions = 0;                     // 0: as many as the tile allows, up to 5
  int CodeBlock = 64;                      // width and height
  int Precinct = 0;                        // 0: the largest; else this size at every level
  bool Codestream = false;                 // a bare .j2k codestream instead of a JP2 file
  bool PacketLengths = false;              // PLT markers in the tile-part headers
  uint32_t SubsampleX = 1, SubsampleY = 1;  // every component sampled at every n-th grid point
};

// The size of a component on a grid from x0 to x1 sampled every step points: what a decoder
// gives (ceil(x1 / step) - ceil(x0 / step)).
inline uint32_t ComponentSize(uint32_t x0, uint32_t size, uint32_t step) {
  return (x0 + size + step - 1) / step - (x0 + step - 1) / step;
}

// The value of component c at pixel (x, y) of the component, y counted from the top. Must fit
// the precision.
using TValue = std::function<int32_t(uint32_t c, uint32_t x, uint32_t y)>;

inline int AllowedResolutions(uint32_t width, uint32_t height) {
  const uint32_t side = width < height ? width : height;
  int levels = 1;
  while (levels < 5 && (1u << levels) <= side) ++levels;
  return levels;
}

inline OPJ_SIZE_T WriteToFile(void* buffer, OPJ_SIZE_T bytes, void* file) {
  return std::fwrite(buffer, 1, bytes, static_cast<FILE*>(file));
}
inline OPJ_OFF_T SkipInFile(OPJ_OFF_T bytes, void* file) {
  return std::fseek(static_cast<FILE*>(file), static_cast<long>(bytes), SEEK_CUR) == 0 ? bytes : -1;
}
inline OPJ_BOOL SeekInFile(OPJ_OFF_T at, void* file) {
  return std::fseek(static_cast<FILE*>(file), static_cast<long>(at), SEEK_SET) == 0;
}

// Returns false (with nothing useful at path) when OpenJPEG refuses the parameters.
inline bool Write(const std::filesystem::path& path, const TLayout& layout, const TValue& value) {
  std::vector<opj_image_cmptparm_t> parts(layout.Components);
  const uint32_t width = ComponentSize(layout.X0, layout.Width, layout.SubsampleX);
  const uint32_t height = ComponentSize(layout.Y0, layout.Height, layout.SubsampleY);
  for (auto& part : parts) {
    part = {};
    part.dx = layout.SubsampleX;
    part.dy = layout.SubsampleY;
    part.w = width;
    part.h = height;
    part.x0 = layout.X0;
    part.y0 = layout.Y0;
    part.prec = layout.Precision;
    part.sgnd = layout.Signed ? 1 : 0;
  }
  opj_image_t* image = opj_image_create(layout.Components, parts.data(),
                                        layout.Components >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
  if (!image) return false;
  image->x0 = layout.X0;
  image->y0 = layout.Y0;
  image->x1 = layout.X0 + layout.Width;
  image->y1 = layout.Y0 + layout.Height;
  for (uint32_t c = 0; c < layout.Components; ++c)
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) image->comps[c].data[size_t{y} * width + x] = value(c, x, y);

  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  parameters.tcp_numlayers = 1;
  parameters.tcp_rates[0] = 0;
  parameters.cp_disto_alloc = 1;
  parameters.prog_order = OPJ_LRCP;
  const uint32_t tileWidth = layout.TileWidth ? layout.TileWidth : layout.Width;
  const uint32_t tileHeight = layout.TileHeight ? layout.TileHeight : layout.Height;
  if (layout.TileWidth || layout.TileHeight) {
    parameters.tile_size_on = OPJ_TRUE;
    parameters.cp_tdx = static_cast<int>(tileWidth);
    parameters.cp_tdy = static_cast<int>(tileHeight);
  }
  parameters.numresolution = layout.Resolutions ? layout.Resolutions : AllowedResolutions(tileWidth, tileHeight);
  parameters.cblockw_init = parameters.cblockh_init = layout.CodeBlock;
  if (layout.Precinct) {
    parameters.csty |= 0x01;
    parameters.res_spec = parameters.numresolution;
    for (int level = 0; level < parameters.numresolution; ++level)
      parameters.prcw_init[level] = parameters.prch_init[level] = layout.Precinct;
  }
  parameters.tcp_mct = layout.Components >= 3 ? 1 : 0;

  opj_codec_t* codec = opj_create_compress(layout.Codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  FILE* file = nullptr;
#if defined(_WIN32)
  file = _wfopen(path.c_str(), L"wb");
#else
  file = std::fopen(path.c_str(), "wb");
#endif
  opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
  opj_stream_set_user_data(stream, file, nullptr);
  opj_stream_set_write_function(stream, WriteToFile);
  opj_stream_set_skip_function(stream, SkipInFile);
  opj_stream_set_seek_function(stream, SeekInFile);
  const char* const plt[] = {"PLT=YES", nullptr};
  const bool ok = file && opj_setup_encoder(codec, &parameters, image) &&
                  (!layout.PacketLengths || opj_encoder_set_extra_options(codec, plt)) &&
                  opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                  opj_end_compress(codec, stream);
  opj_stream_destroy(stream);
  opj_destroy_codec(codec);
  opj_image_destroy(image);
  const bool closed = file && std::fclose(file) == 0;
  return ok && closed;
}

// A box: its 32-bit length, its type and its content.
inline std::string Box(const char* type, const std::string& content) {
  const uint32_t length = static_cast<uint32_t>(content.size() + 8);
  std::string box;
  for (int shift = 24; shift >= 0; shift -= 8) box += static_cast<char>(length >> shift);
  return box + std::string(type, 4) + content;
}

}  // namespace jp2encode
