// Decodes band files one after the other with the program's own band decoder and throws the
// samples away: the decoding alone, for the benchmarks to set other work beside.
//   decodebands FILE...   prints the seconds it took; exit 1 when a band does not decode
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Jp2BandDecoder.h"
#include "Jp2Header.h"

int main(int argc, char** argv) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<uint16_t> samples;
  for (int i = 1; i < argc; ++i) {
    TJp2Header header;
    std::string error;
    if (ReadJp2Header(argv[i], header, error) != TJp2HeaderStatus::Read) {
      std::fprintf(stderr, "decodebands: %s: %s\n", argv[i], error.c_str());
      return 1;
    }
    samples.resize(size_t{header.Width} * header.Height);
    TSampleTarget target;
    target.Width = header.Width;
    target.Height = header.Height;
    target.Row = [&samples, &header](uint32_t y) { return samples.data() + size_t{y} * header.Width; };
    if (!DecodeJp2Band(argv[i], target, TJp2DecodeOptions{}, TWorkCallbacks{}, error)) {
      std::fprintf(stderr, "decodebands: %s: %s\n", argv[i], error.c_str());
      return 1;
    }
  }
  std::printf("%.2f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return 0;
}
