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
}  // namespace

uint64_t EstimateCompositeMemory(uint64_t width, uint64_t height, uint64_t tileWidth, uint64_t tileHeight,
                                 unsigned decodeThreads) {
  const uint64_t tile = std::max<uint64_t>(1, tileWidth * tileHeight * kTileBytesPerSample);
  const uint64_t tiles = tileWidth && tileHeight ? ((width + tileWidth - 1) / tileWidth) * ((height + tileHeight - 1) / tileHeight) : 1;
  const uint64_t workers = std::min<uint64_t>({std::max(1u, decodeThreads), tiles, std::max<uint64_t>(1, kTileMemoryBudget / tile)});
  // A band of several code-stream tiles streams: two rows of tiles of the composite are held (one
  // being decoded, one being written), never the whole picture. A band of one tile is decoded whole.
  const bool streams = tileWidth && tileHeight && (tileWidth < width || tileHeight < height);
  const uint64_t rows = streams ? 2 * std::min(tileHeight, height) : height;
  return kBaseBytes + width * rows * kCompositeBytesPerPixel + workers * tile;
}

uint64_t EstimateJobMemory(const TPlannedJob& job, unsigned decodeThreads) {
  const TBandNames& bands = job.Files.Bands;
  if (!bands.Started) return 0;  // the job fails before it decodes anything
  if (job.Job.Kind == TJobKind::Zip) {
    const uint64_t side = kTileMetres / MetresOf(bands.BandToken);
    return EstimateCompositeMemory(side, side, kCodeTile, kCodeTile, decodeThreads);
  }
  TJp2Header header;
  std::string error;
  if (ReadJp2Header(FsPath(bands.Red), header, error) != TJp2HeaderStatus::Read) return 0;
  return EstimateCompositeMemory(header.Width, header.Height, header.TileWidth, header.TileHeight, decodeThreads);
}
