#include "JobMemory.h"

#include <algorithm>

#include "Jp2Header.h"
#include "TextCodec.h"

namespace {
constexpr uint64_t kCompositeBytesPerPixel = 6;
// A tile being decoded: the library's 32-bit samples, its working copy and the code-blocks.
constexpr uint64_t kTileBytesPerSample = 16;
// The decoder keeps its tiles in flight under this.
constexpr uint64_t kTileMemoryBudget = uint64_t{512} << 20;
// The program, its libraries and the writer's blocks in flight.
constexpr uint64_t kBaseBytes = uint64_t{64} << 20;
// A Sentinel-2 tile is 109.8 km across: 10980 pixels at 10 m.
constexpr uint64_t kTileMetres = 109800;
constexpr uint64_t kCodeTile = 1024;  // ESA's code-stream tiles at 10 m

// A zip's bands are not on disk before the job unpacks them; their names say their resolution.
uint64_t MetresOf(const std::wstring& bandToken) {
  for (uint64_t metres : {20, 60})
    if (bandToken.find(L"_" + std::to_wstring(metres) + L"m") != std::wstring::npos) return metres;
  return 10;
}

// A size at 1/2^reduce of the full resolution.
uint64_t Reduced(uint64_t size, unsigned reduce) {
  const unsigned shift = std::min(reduce, 32u);
  return (size + (uint64_t{1} << shift) - 1) >> shift;
}

// The picture a job decodes: its size and code-stream tiling at full resolution.
struct TPicture {
  uint64_t Width = 0, Height = 0, TileWidth = 0, TileHeight = 0;
};

// A picture held whole, or by two rows of code-stream tiles where it has several and may
// stream (one being decoded, one being written), with the tiles in flight on each decoding
// thread.
uint64_t HeldMemory(uint64_t width, uint64_t height, uint64_t tileWidth, uint64_t tileHeight, unsigned decodeThreads,
                    bool mayStream) {
  const uint64_t tile = std::max<uint64_t>(1, tileWidth * tileHeight * kTileBytesPerSample);
  const uint64_t tiles = tileWidth && tileHeight ? ((width + tileWidth - 1) / tileWidth) * ((height + tileHeight - 1) / tileHeight) : 1;
  const uint64_t workers = std::min<uint64_t>({std::max(1u, decodeThreads), tiles, std::max<uint64_t>(1, kTileMemoryBudget / tile)});
  const bool streams = mayStream && tileWidth && tileHeight && (tileWidth < width || tileHeight < height);
  const uint64_t rows = streams ? 2 * std::min(tileHeight, height) : height;
  return kBaseBytes + width * rows * kCompositeBytesPerPixel + workers * tile;
}

// The picture at 1/2^reduce: its size and its tiles shrink alike.
uint64_t PictureMemory(const TPicture& full, unsigned reduce, bool mayStream, unsigned decodeThreads) {
  return HeldMemory(Reduced(full.Width, reduce), Reduced(full.Height, reduce), Reduced(full.TileWidth, reduce),
                    Reduced(full.TileHeight, reduce), decodeThreads, mayStream);
}
}  // namespace

uint64_t EstimateCompositeMemory(uint64_t width, uint64_t height, uint64_t tileWidth, uint64_t tileHeight,
                                 unsigned decodeThreads) {
  // A band of one tile is decoded whole; one of several streams.
  return HeldMemory(width, height, tileWidth, tileHeight, decodeThreads, true);
}

uint64_t EstimateJobMemory(const TPlannedJob& job, const TJobSettings& settings, unsigned decodeThreads) {
  const TBandNames& bands = job.Files.Bands;
  if (!bands.Started) return 0;  // the job fails before it decodes anything
  TPicture full;
  if (job.Job.Kind == TJobKind::Zip) {
    const uint64_t side = kTileMetres / MetresOf(bands.BandToken);
    full = {side, side, kCodeTile, kCodeTile};
  } else {
    TJp2Header header;
    std::string error;
    if (ReadJp2Header(FsPath(bands.Red), header, error) != TJp2HeaderStatus::Read) return 0;
    full = {header.Width, header.Height, header.TileWidth, header.TileHeight};
  }
  // The composite is saved and let go before the quicklook (or the preview, the only picture)
  // decodes, whole: the peak is the larger of the two.
  uint64_t peak = 0;
  if (!settings.Preview) peak = PictureMemory(full, settings.CompositeReduce(), true, decodeThreads);
  if (settings.Quicklook || settings.Preview)
    peak = std::max(peak, PictureMemory(full, settings.Reduce, false, decodeThreads));
  return peak;
}
