// Writes Sentinel-2-like band files: unsigned 15-bit grey, lossless JPEG 2000 encoded the way
// ESA's 10 m bands are (1024 x 1024 tiles, 64 x 64 code-blocks, 256 x 256 precincts, LRCP,
// 5 resolution levels, fewer when the image is too small), with the values of SampleValues.h.
//   gensample DIR WIDTH HEIGHT [BAND...]    BAND is B02, B03, B04 or B08 (default: all four)
//   options: --stem STEM (name stem, default T33UUP_20250101T101021_)
// Encoding goes through opj_compress (package libopenjp2-tools).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "SampleValues.h"

namespace {
int Usage() {
  std::fprintf(stderr, "usage: gensample DIR WIDTH HEIGHT [--stem STEM] [B02 B03 B04 B08]\n");
  return 2;
}

bool WritePgm(const std::string& path, int band, uint32_t width, uint32_t height) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  std::fprintf(file, "P5\n%u %u\n32767\n", width, height);
  std::vector<unsigned char> row(static_cast<size_t>(width) * 2);
  bool ok = true;
  for (uint32_t y = 0; y < height && ok; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint16_t v = sample::Value(band, x, y);
      row[2 * x] = static_cast<unsigned char>(v >> 8);  // PGM is big-endian
      row[2 * x + 1] = static_cast<unsigned char>(v & 0xFF);
    }
    ok = std::fwrite(row.data(), 1, row.size(), file) == row.size();
  }
  return std::fclose(file) == 0 && ok;
}

// One word for the shell, whatever the path holds.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int Resolutions(uint32_t width, uint32_t height) {
  const uint32_t side = width < height ? width : height;
  int levels = 1;
  while (levels < 5 && (1u << levels) <= side) ++levels;
  return levels;
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string stem = sample::kStem;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--stem" && i + 1 < args.size()) stem = args[++i];
    else positional.push_back(args[i]);
  }
  if (positional.size() < 3) return Usage();
  const std::string dir = positional[0];
  const long width = std::atol(positional[1].c_str()), height = std::atol(positional[2].c_str());
  if (width < 1 || height < 1 || width > 65535 || height > 65535) return Usage();
  std::vector<std::string> bands(positional.begin() + 3, positional.end());
  if (bands.empty()) bands = {"B02", "B03", "B04", "B08"};

  for (const std::string& band : bands) {
    if (band != "B02" && band != "B03" && band != "B04" && band != "B08") return Usage();
    const int code = band[2] - '0';
    const std::string target = dir + "/" + stem + band + ".jp2";
    const std::string pgm = target + ".pgm";
    if (!WritePgm(pgm, code, static_cast<uint32_t>(width), static_cast<uint32_t>(height))) {
      std::fprintf(stderr, "gensample: cannot write %s\n", pgm.c_str());
      return 1;
    }
    // One precinct size per level; opj_compress would halve a single one for lower levels.
    const int levels = Resolutions(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
    std::string precincts;
    for (int level = 0; level < levels; ++level) precincts += (level ? ",[256,256]" : "[256,256]");
    const std::string command = "opj_compress -i " + Quoted(pgm) + " -o " + Quoted(target) +
                                " -t 1024,1024 -b 64,64 -c " + precincts + " -p LRCP -n " +
                                std::to_string(levels) + " >" + Quoted(pgm + ".log") + " 2>&1";
    const int status = std::system(command.c_str());
    std::remove(pgm.c_str());
    const std::string log = pgm + ".log";
    if (status != 0) {
      std::fprintf(stderr, "gensample: opj_compress failed for %s (its output: %s)\n", target.c_str(),
                   log.c_str());
      return 1;
    }
    std::remove(log.c_str());
  }
  return 0;
}
