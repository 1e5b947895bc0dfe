// Tile-parallel band decoding. Each worker thread has its own file, stream and codec, and takes
// the next undecoded tile until none is left; OpenJPEG decodes a whole tile at a time and the
// worker copies its samples to where they belong. A band of one tile gets OpenJPEG's own
// threads instead. Memory: one tile per worker, whatever the band's size.
#include "Jp2BandDecoder.h"
#include "Jp2Header.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Jp2Codec.h"
#include "Jp2File.h"
#include "Jp2Tiles.h"
#include "WorkerFailure.h"

namespace {
// What the workers share with the thread that waits for them.
struct TShared {
  std::atomic<uint32_t> Next{0};
  TWorkerFailure Failure;
  std::mutex Lock;
  std::condition_variable Changed;
  uint32_t Done = 0;
  unsigned Running = 0;
};

// A tile that cannot be decoded, in the words the caller reports.
struct TDecodeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TJob {
  std::filesystem::path Path;
  TJp2Header Header;
  TTileGrid Grid;
  const TSampleTarget* Target;
  unsigned Reduce;
  unsigned CodecThreads;
  uint32_t Tiles;
};

void Work(const TJob& job, TShared& shared, TJp2Codec* openedCodec) {
  shared.Failure.Run([&] {
    TJp2File ownFile;
    TJp2Codec ownCodec;
    TJp2Codec* codec = openedCodec;
    if (!codec) {
      codec = &ownCodec;
      if (!ownFile.Open(job.Path)) throw TDecodeError("cannot open the file");
      if (!ownCodec.Open(ownFile, job.Header, job.Reduce, job.CodecThreads)) throw TDecodeError(ownCodec.Error());
    }
    while (!shared.Failure.Stopped()) {
      const uint32_t tile = shared.Next++;
      if (tile >= job.Tiles) break;
      const TTileGrid::TPlace place = job.Grid.Place(tile);
      if (place.Width > 0 && place.Height > 0) {
        if (!codec->DecodeTile(tile)) throw TDecodeError(codec->Error());
        if (!PlaceTile(*codec->Image(), place, *job.Target, job.Header.Precision))
          throw TDecodeError("tile " + std::to_string(tile) + " does not match the header");
        codec->ReleaseTile();
      }
      {
        std::lock_guard<std::mutex> hold(shared.Lock);
        ++shared.Done;
      }
      shared.Changed.notify_one();
    }
  });
  {
    std::lock_guard<std::mutex> hold(shared.Lock);
    --shared.Running;
  }
  shared.Changed.notify_one();
}

// The words for what a decoding thread threw.
std::string DecodeFailure(const TWorkerFailure& failure) {
  try {
    failure.Rethrow();
  } catch (const TDecodeError& error) {
    return error.what();
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (...) {
    return "the decoder failed";
  }
  return {};
}

// Keeps the caller's thread serving its callbacks until every worker has ended.
void WaitForWorkers(TShared& shared, uint32_t tiles, const TWorkCallbacks& callbacks) {
  std::exception_ptr failure;
  std::unique_lock<std::mutex> hold(shared.Lock);
  while (shared.Running > 0) {
    shared.Changed.wait_for(hold, std::chrono::milliseconds(100));
    const uint32_t done = shared.Done;
    hold.unlock();
    if (!failure) {
      try {
        if (callbacks.KeepAlive) callbacks.KeepAlive();
        if (callbacks.Progress) callbacks.Progress(done, tiles);
      } catch (...) {
        failure = std::current_exception();
        shared.Failure.Stop();
      }
    }
    hold.lock();
  }
  hold.unlock();
  if (failure) std::rethrow_exception(failure);
}

// Bytes a worker holds while it decodes one tile, roughly: the samples and the wavelet's
// working copy, in 32 bits each, and the code-block data.
constexpr uint64_t kTileBytesPerSample = 16;
constexpr uint64_t kTileMemoryBudget = uint64_t{512} << 20;
}  // namespace

unsigned Jp2DecodeThreads() {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const char* set = std::getenv("OPJ_NUM_THREADS");
  if (!set || !*set) return cores;
  if (std::strcmp(set, "ALL_CPUS") == 0) return cores;
  char* end = nullptr;
  const long threads = std::strtol(set, &end, 10);
  if (end == set || *end) return cores;
  // OpenJPEG reads 0 as "the calling thread only".
  return static_cast<unsigned>(std::clamp(threads, 1L, 256L));
}

bool DecodeJp2Band(const std::filesystem::path& path, const TSampleTarget& target, const TJp2DecodeOptions& options,
                   const TWorkCallbacks& callbacks, std::string& error) {
  TJob job;
  job.Path = path;
  job.Target = &target;
  job.Reduce = options.Reduce;
  switch (ReadJp2Header(path, job.Header, error)) {
    case TJp2HeaderStatus::Read: break;
    default: return false;
  }
  const TJp2Header& header = job.Header;
  if (!header.IsPlainBand()) {
    error = "not a single unsigned component of up to 16 bits";
    return false;
  }
  if (options.Reduce >= header.Resolutions) {
    error = "the band has " + std::to_string(header.Resolutions) + " resolution levels, too few to reduce by " +
            std::to_string(options.Reduce);
    return false;
  }
  if (target.Width != header.WidthAt(options.Reduce) || target.Height != header.HeightAt(options.Reduce) ||
      target.PixelStep == 0 || !target.Row) {
    error = "the target does not match the band's size";
    return false;
  }

  const uint64_t tiles = uint64_t{header.TilesAcross} * header.TilesDown;
  if (tiles > UINT32_MAX) {
    error = "too many tiles";
    return false;
  }
  job.Tiles = static_cast<uint32_t>(tiles);
  const unsigned threads = options.Threads ? options.Threads : Jp2DecodeThreads();
  const uint64_t tileBytes = uint64_t{header.TileWidth} * header.TileHeight * kTileBytesPerSample;
  const uint64_t affordable = std::max<uint64_t>(1, kTileMemoryBudget / std::max<uint64_t>(tileBytes, 1));
  const unsigned workers = static_cast<unsigned>(std::min<uint64_t>({threads, job.Tiles, affordable}));
  // Fewer tiles than threads: the rest of the threads go into the codecs.
  job.CodecThreads = threads / workers;

  // The first worker's codec is opened here: it gives the tiling as the library reads it.
  TJp2File firstFile;
  TJp2Codec firstCodec;
  if (!firstFile.Open(path)) {
    error = "cannot open the file";
    return false;
  }
  if (!firstCodec.Open(firstFile, header, options.Reduce, job.CodecThreads)) {
    error = firstCodec.Error();
    return false;
  }
  {
    const opj_image_t& image = *firstCodec.Image();
    if (!TTileGrid::FromCodec(firstCodec.Codec(), image, options.Reduce, job.Grid)) {
      error = "out of memory";
      return false;
    }
    const bool matches = uint64_t{job.Grid.Across} * job.Grid.Down == job.Tiles &&
                         image.x1 - image.x0 == header.Width && image.y1 - image.y0 == header.Height;
    if (!matches) {
      error = "the library reads another tiling";
      return false;
    }
  }

  TShared shared;
  std::vector<std::thread> pool;
  for (unsigned w = 0; w < workers; ++w) {
    {
      std::lock_guard<std::mutex> hold(shared.Lock);
      ++shared.Running;
    }
    try {
      pool.emplace_back(Work, std::cref(job), std::ref(shared), w == 0 ? &firstCodec : nullptr);
    } catch (...) {
      std::lock_guard<std::mutex> hold(shared.Lock);
      --shared.Running;
      break;  // fewer workers than planned still finish the band
    }
  }
  if (pool.empty()) {
    error = "cannot start a decoding thread";
    return false;
  }
  try {
    WaitForWorkers(shared, job.Tiles, callbacks);
  } catch (...) {
    for (auto& worker : pool) worker.join();
    throw;
  }
  for (auto& worker : pool) worker.join();
  if (shared.Failure.Failed()) {
    error = DecodeFailure(shared.Failure);
    return false;
  }
  if (shared.Done != job.Tiles) {
    error = "not every tile was decoded";
    return false;
  }
  return true;
}
