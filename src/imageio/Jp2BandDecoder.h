// Decoding one JPEG 2000 band straight into a caller's 16-bit samples with OpenJPEG: whole
// tiles on several threads at once, each written where it belongs, optionally at a reduced
// resolution (1/2, 1/4, ...) for quick looks.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "WorkCallbacks.h"

// Where decoded samples go. Picture row y (0 is the top row) of the decoded resolution starts
// at Row(y), and pixel x of it is Row(y)[x * PixelStep]; Width and Height must be the size at
// the decoded resolution. Row is called from several threads at once.
struct TSampleTarget {
  uint32_t Width = 0, Height = 0;
  uint32_t PixelStep = 1;
  std::function<uint16_t*(uint32_t y)> Row;
};

struct TJp2DecodeOptions {
  unsigned Reduce = 0;   // decode at 1/2^Reduce of the full resolution
  unsigned Threads = 0;  // 0: OPJ_NUM_THREADS when set, otherwise the number of cores
};

// Decodes a plain band into target: every sample as the codestream holds it, or false with a
// reason when the file is not a plain band, does not match the target, or is truncated or
// corrupt (then part of the target may have been written). Runs the tiles on worker threads;
// the calling thread waits, calling the keep-alive and the progress (in tiles) at least every
// 100 ms.
bool DecodeJp2Band(const std::filesystem::path& path, const TSampleTarget& target,
                   const TJp2DecodeOptions& options, const TWorkCallbacks& callbacks, std::string& error);

// The number of decoding threads a band gets: OPJ_NUM_THREADS when set to a positive number
// (or ALL_CPUS), otherwise the number of cores.
unsigned Jp2DecodeThreads();
