#include "CogWriter.h"

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <thread>

#include "CogWriterLayout.h"
#include "ParallelBlocks.h"  // WorkerCount
#include "WorkerFailure.h"
#include "TempFile.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the tiles are written in the host's byte order");

namespace {
constexpr uint32_t kTile = TCogWriter::kTileSize;
// As the plain TIFF writer: libdeflate's fastest level, whose output the predictor keeps small.
constexpr int kDeflateLevel = 1;
// Copies from the spill file into place go in pieces of this size.
constexpr size_t kCopyBytes = size_t(4) << 20;

struct TCompressorFreer {
  void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

// Runs task(0 .. count - 1) on up to `workers` threads, the calling one among them; false when
// any task failed, and what a task threw is thrown here once all have ended. A row of tiles is
// all in memory, so no order is needed until the results are written.
bool RunOnWorkers(size_t count, unsigned workers, const std::function<bool(size_t)>& task) {
  std::atomic<size_t> next{0};
  TWorkerFailure failure;
  const auto work = [&] {
    failure.Run([&] {
      for (size_t i; !failure.Stopped() && (i = next++) < count;)
        if (!task(i)) failure.Stop();
    });
  };
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < workers && i < count; ++i) {
    try {
      threads.emplace_back(work);
    } catch (...) {
      break;  // fewer threads still finish the work
    }
  }
  work();
  for (auto& thread : threads) thread.join();
  failure.Rethrow();
  return !failure.Stopped();
}

// The mean of a channel's non-zero samples among up to four, rounded half up; 0 when all are 0.
inline uint16_t ValidMean(const uint16_t* const* samples, int count) {
  uint32_t sum = 0, valid = 0;
  for (int i = 0; i < count; ++i)
    if (*samples[i]) {
      sum += *samples[i];
      ++valid;
    }
  return valid ? static_cast<uint16_t>((2 * sum + valid) / (2 * valid)) : 0;
}
}  // namespace

// Where a compressed tile waits in the spill file: at Offset its leader, the tile's Bytes, its
// trailer, as they go into the output.
struct TCogWriter::TPiece {
  uint64_t Offset = 0, Bytes = 0;
  uint64_t End() const { return Offset + kCogTileLeader + Bytes + kCogTileTrailer; }
};

struct TCogWriter::TLevel {
  uint32_t Width = 0, Height = 0, TilesAcross = 0;
  std::vector<uint16_t> Rows;  // the current row of tiles: up to kTile rows of Width pixels
  uint32_t Held = 0;           // rows in Rows (or in Borrowed)
  uint32_t Done = 0;           // rows already tiled
  std::vector<TPiece> Tiles;   // every tile so far, row by row
  // A whole row of tiles of the caller's, tiled straight from its rows rather than copied.
  const TRowView* Borrowed = nullptr;

  uint32_t RowsDue() const { return std::min(kTile, Height - Done); }
  // The full picture's rows are usually borrowed, so its Rows are made only when a copy is
  // first needed; every overview's are made with the writer.
  void HoldRows() {
    if (Rows.empty()) Rows.resize(static_cast<size_t>(Width) * 3 * std::min(kTile, Height));
  }
  uint16_t* Row(uint32_t y) { return Rows.data() + static_cast<size_t>(y) * Width * 3; }
  const uint16_t* Source(uint32_t y) { return Borrowed ? Borrowed->Row(y) : Row(y); }
};

std::vector<std::pair<uint32_t, uint32_t>> TCogWriter::LevelSizes(uint32_t width, uint32_t height) {
  std::vector<std::pair<uint32_t, uint32_t>> sizes{{width, height}};
  while (width > kTile || height > kTile) {
    width = width / 2 + width % 2;
    height = height / 2 + height % 2;
    sizes.emplace_back(width, height);
  }
  return sizes;
}

TCogWriter::TCogWriter(TOutputFile& file, const std::filesystem::path& target, uint32_t width, uint32_t height,
                       const TImageMetadata& metadata, unsigned workers)
    : FFile(file), FTarget(target), FMetadata(metadata), FWorkers(WorkerCount(workers)) {
  if (width == 0 || height == 0) {
    FFailed = true;
    return;
  }
  try {
    for (const auto& [w, h] : LevelSizes(width, height)) {
      auto level = std::make_unique<TLevel>();
      level->Width = w;
      level->Height = h;
      level->TilesAcross = (w + kTile - 1) / kTile;
      if (!FLevels.empty()) level->HoldRows();
      FLevels.push_back(std::move(level));
    }
  } catch (const std::bad_alloc&) {
    FFailed = true;
    return;
  }
  FSpill = TTempFile::CreateBeside(target);
  if (!FSpill) FFailed = true;
}

TCogWriter::~TCogWriter() = default;

bool TCogWriter::Put(const TRowView& rows) {
  if (FFailed || FFinished) return Fail();
  TLevel& full = *FLevels.front();
  if (rows.Width != full.Width || rows.Height > full.Height - full.Done - full.Held) return Fail();
  try {
    for (uint32_t y = 0; y < rows.Height;) {
      const uint32_t due = full.RowsDue();
      if (full.Held == 0 && rows.Height - y >= due) {
        TRowView whole = rows;
        whole.Top = rows.Top + static_cast<ptrdiff_t>(y) * rows.Stride;
        whole.Height = due;
        full.Borrowed = &whole;
        full.Held = due;
        const bool flushed = FlushTileRow(0);
        full.Borrowed = nullptr;
        if (!flushed) return Fail();
        y += due;
        continue;
      }
      full.HoldRows();
      std::memcpy(full.Row(full.Held), rows.Row(y), rows.RowBytes());
      ++y;
      if (++full.Held == due && !FlushTileRow(0)) return Fail();
    }
  } catch (...) {
    FLevels.front()->Borrowed = nullptr;
    return Fail();  // out of memory, here or on a worker: the picture fails, not the process
  }
  return true;
}

// Compresses the level's row of tiles into the spill file and, in the same pass, halves it into
// the next level's rows; a next level whose row of tiles is then complete follows.
bool TCogWriter::FlushTileRow(size_t index) {
  TLevel& level = *FLevels[index];
  TLevel* next = index + 1 < FLevels.size() ? FLevels[index + 1].get() : nullptr;
  const uint32_t held = level.Held;
  const uint32_t halfRows = held / 2 + held % 2;

  // Each tile goes into the spill file as soon as it is compressed, wherever it falls there:
  // Finish picks the tiles out in order.
  const size_t firstTile = level.Tiles.size();
  level.Tiles.resize(firstTile + level.TilesAcross);
  std::mutex spilling;
  const auto encode = [&](size_t x) {
    std::vector<uint8_t> out;
    const uint32_t left = static_cast<uint32_t>(x) * kTile;
    const uint32_t columns = std::min(kTile, level.Width - left);
    // The tile, padded with 0 (no data) beyond the picture, as differences from the pixel to
    // the left within each tile row.
    std::vector<uint16_t> tile(size_t(kTile) * kTile * 3, 0);
    for (uint32_t y = 0; y < held; ++y) {
      const uint16_t* in = level.Source(y) + size_t(left) * 3;
      uint16_t* row = tile.data() + size_t(y) * kTile * 3;
      std::memcpy(row, in, size_t(columns) * 6);
      for (size_t i = size_t(kTile) * 3 - 1; i >= 3; --i) row[i] = static_cast<uint16_t>(row[i] - row[i - 3]);
    }
    std::unique_ptr<libdeflate_compressor, TCompressorFreer> compressor(libdeflate_alloc_compressor(kDeflateLevel));
    if (!compressor) return false;
    const size_t inSize = tile.size() * 2;
    out.resize(libdeflate_zlib_compress_bound(compressor.get(), inSize));
    const size_t size = libdeflate_zlib_compress(compressor.get(), tile.data(), inSize, out.data(), out.size());
    if (size == 0) return false;
    out.resize(size);
    {
      std::lock_guard<std::mutex> hold(spilling);
      if (!Spill(out, level.Tiles[firstTile + x])) return false;
    }

    if (next) {
      // This tile's columns halve into columns of their own in the next level: no two workers
      // write the same samples.
      const uint32_t first = left / 2, last = std::min(next->Width, (left + columns + 1) / 2);
      for (uint32_t r = 0; r < halfRows; ++r) {
        const uint16_t* upper = level.Source(2 * r);
        const uint16_t* lower = 2 * r + 1 < held ? level.Source(2 * r + 1) : nullptr;
        uint16_t* halved = next->Row(next->Held + r);
        for (uint32_t c = first; c < last; ++c) {
          const bool pair = 2 * c + 1 < level.Width;
          for (int channel = 0; channel < 3; ++channel) {
            const size_t at = size_t(2 * c) * 3 + channel;
            const uint16_t* samples[4] = {upper + at};
            int count = 1;
            if (pair) samples[count++] = upper + at + 3;
            if (lower) {
              samples[count++] = lower + at;
              if (pair) samples[count++] = lower + at + 3;
            }
            halved[size_t(c) * 3 + channel] = ValidMean(samples, count);
          }
        }
      }
    }
    return true;
  };
  if (!RunOnWorkers(level.TilesAcross, FWorkers, encode)) return false;

  level.Done += held;
  level.Held = 0;
  if (!next) return true;
  next->Held += halfRows;
  return next->Held < next->RowsDue() || FlushTileRow(index + 1);
}

bool TCogWriter::Spill(const std::vector<uint8_t>& bytes, TPiece& piece) {
  const int64_t at = FSpill->Seek(0, 2);
  if (at < 0 || bytes.size() < kCogTileTrailer || bytes.size() > UINT32_MAX) return false;
  uint8_t leader[kCogTileLeader];
  for (size_t i = 0; i < kCogTileLeader; ++i) leader[i] = static_cast<uint8_t>(bytes.size() >> (8 * i));
  if (!FSpill->Write(leader, sizeof leader) || !FSpill->Write(bytes.data(), bytes.size()) ||
      !FSpill->Write(bytes.data() + bytes.size() - kCogTileTrailer, kCogTileTrailer))
    return false;
  piece = {static_cast<uint64_t>(at), bytes.size()};
  return true;
}

bool TCogWriter::Finish() {
  if (FFailed || FFinished) return Fail();
  FFinished = true;
  std::vector<TCogLevel> levels;
  for (const auto& level : FLevels) {
    if (level->Done != level->Height || level->Held != 0) return Fail();  // rows missing
    TCogLevel shape{level->Width, level->Height, {}};
    for (const TPiece& piece : level->Tiles) shape.TileBytes.push_back(piece.Bytes);
    levels.push_back(std::move(shape));
  }
  const TCogLayout layout = LayOutCog(levels, kTile, FMetadata);
  if (!FFile.Write(layout.Front.data(), layout.Front.size())) return Fail();

  // The smallest overview's tiles first; tiles that lie one after the other in the spill file
  // are copied in one go.
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(kCopyBytes);
  } catch (const std::bad_alloc&) {
    return Fail();
  }
  const auto copy = [&](uint64_t offset, uint64_t bytes) {
    if (FSpill->Seek(static_cast<int64_t>(offset), 0) != static_cast<int64_t>(offset)) return false;
    while (bytes > 0) {
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(bytes, buffer.size()));
      if (FSpill->Read(buffer.data(), chunk) != static_cast<int64_t>(chunk)) return false;
      if (!FFile.Write(buffer.data(), chunk)) return false;
      bytes -= chunk;
    }
    return true;
  };
  uint64_t runStart = 0, runEnd = 0;
  for (size_t i = FLevels.size(); i-- > 0;)
    for (const TPiece& piece : FLevels[i]->Tiles) {
      if (runEnd > runStart && runEnd == piece.Offset) {
        runEnd = piece.End();
        continue;
      }
      if (runEnd > runStart && !copy(runStart, runEnd - runStart)) return Fail();
      runStart = piece.Offset;
      runEnd = piece.End();
    }
  if (runEnd > runStart && !copy(runStart, runEnd - runStart)) return Fail();
  FSpill.reset();  // the spill file is removed now rather than with the writer
  return !FFile.Failed() || Fail();
}

std::unique_ptr<TRowSink> OpenCogSink(TOutputFile& file, const std::filesystem::path& target, uint32_t width,
                                      uint32_t height, const TImageMetadata& metadata, unsigned workers) {
  auto writer = std::make_unique<TCogWriter>(file, target, width, height, metadata, workers);
  if (!writer->Ready()) return nullptr;
  return writer;
}

bool WriteCog48(TOutputFile& file, const std::filesystem::path& target, const TRowView& rows,
                const TImageMetadata& metadata, const TWorkCallbacks& callbacks, unsigned workers) {
  if (rows.Width == 0 || rows.Height == 0 || !rows.Top) return false;
  TCogWriter writer(file, target, rows.Width, rows.Height, metadata, workers);
  for (uint32_t y = 0; y < rows.Height; y += kTile) {
    TRowView band = rows;
    band.Top = rows.Top + static_cast<ptrdiff_t>(y) * rows.Stride;
    band.Height = std::min(kTile, rows.Height - y);
    if (!writer.Put(band)) return false;
    if (callbacks.KeepAlive) callbacks.KeepAlive();
    if (callbacks.Progress) callbacks.Progress(y + band.Height, rows.Height);
  }
  return writer.Finish();
}
