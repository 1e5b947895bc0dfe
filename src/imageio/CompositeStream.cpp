// Threads: the caller's thread only waits and runs the callbacks. A row of tiles is decoded by
// a team of workers, each with one codec per band of its own (a codec reads its file
// sequentially, so it is never shared), taking the next tile of the row until none is left.
// While the team decodes row j + 1 into one buffer, a writer thread puts row j from the other
// buffer into the sink.
#include "CompositeStream.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <thread>

#include "Jp2Codec.h"
#include "Jp2File.h"
#include "Jp2Tiles.h"

namespace {
constexpr auto kCallbackInterval = std::chrono::milliseconds(50);
const char* const kBandNames[3] = {"red", "green", "blue"};

struct TOpenCodec {
  TJp2File File;    // declared first: the codec's stream reads it until the codec is gone
  TJp2Codec Codec;
};

// Runs body on a thread of its own while the calling thread runs the callbacks every 50 ms
// (and once at the end). A callback that throws sets stop, waits for body and rethrows.
void RunWithCallbacks(const std::function<void()>& body, std::atomic<bool>& stop, const TWorkCallbacks& callbacks,
                      const std::function<void()>& progress) {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  std::exception_ptr bodyFailure;
  const auto run = [&] {
    try {
      body();
    } catch (...) {
      bodyFailure = std::current_exception();
    }
    std::lock_guard<std::mutex> hold(lock);
    done = true;
    ended.notify_all();
  };
  std::thread thread;
  try {
    thread = std::thread(run);
  } catch (...) {
    run();  // no thread to be had: the work still gets done, without the callbacks meanwhile
  }
  std::exception_ptr callbackFailure;
  for (;;) {
    bool finished;
    {
      std::unique_lock<std::mutex> hold(lock);
      finished = ended.wait_for(hold, kCallbackInterval, [&] { return done; });
    }
    if (!callbackFailure) {
      try {
        if (callbacks.KeepAlive) callbacks.KeepAlive();
        progress();
      } catch (...) {
        callbackFailure = std::current_exception();
        stop = true;
      }
    }
    if (finished) break;
  }
  if (thread.joinable()) thread.join();
  if (callbackFailure) std::rethrow_exception(callbackFailure);
  if (bodyFailure) std::rethrow_exception(bodyFailure);
}
}  // namespace

struct TCompositeStream::TBandState {
  TJp2Header Header;
  std::vector<std::unique_ptr<TOpenCodec>> Codecs;  // one per worker, opened when first needed
};
struct TCompositeStream::TGridHolder {
  TTileGrid Grid;
};

bool CanStreamBands(const TJp2Header (&headers)[3], unsigned reduce, std::string& why) {
  for (const TJp2Header& header : headers) {
    if (!header.IsPlainBand()) {
      why = "a band is not a plain band of one unsigned component";
      return false;
    }
    if (reduce >= header.Resolutions) {
      why = "a band has too few resolution levels for the reduction";
      return false;
    }
    if (uint64_t{header.TilesAcross} * header.TilesDown < 2) {
      why = "the code streams have one tile";
      return false;
    }
  }
  for (const TJp2Header& header : headers) {
    const TJp2Header& red = headers[0];
    if (header.Width != red.Width || header.Height != red.Height || header.X0 != red.X0 || header.Y0 != red.Y0 ||
        header.TileWidth != red.TileWidth || header.TileHeight != red.TileHeight || header.TileX0 != red.TileX0 ||
        header.TileY0 != red.TileY0) {
      why = "the bands' tiles do not line up";
      return false;
    }
  }
  return true;
}

TCompositeStream::TCompositeStream(const std::filesystem::path (&bands)[3], unsigned reduce, unsigned threads)
    : FReduce(reduce), FThreads(threads ? threads : Jp2DecodeThreads()), FGrid(std::make_unique<TGridHolder>()) {
  for (int b = 0; b < 3; ++b) {
    FPaths[b] = bands[b];
    FBands[b] = std::make_unique<TBandState>();
    FBands[b]->Codecs.resize(FThreads);
  }
}

TCompositeStream::~TCompositeStream() = default;

bool TCompositeStream::Allocate(std::vector<uint16_t>& buffer) {
  try {
    buffer.assign(size_t{FBufferWidth} * FMaxRowHeight * 3, 0);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool TCompositeStream::StartBand(int band, const TWorkCallbacks& callbacks, std::string& error) {
  if (band < 0 || band > 2) {
    error = "no such band";
    return false;
  }
  if (FStarted & (1u << band)) return true;
  TBandState& state = *FBands[band];
  if (ReadJp2Header(FPaths[band], state.Header, error) != TJp2HeaderStatus::Read) return false;
  const TJp2Header& header = state.Header;
  if (!header.IsPlainBand() || FReduce >= header.Resolutions) {
    error = "not a plain band with enough resolution levels";
    return false;
  }
  // The first worker's codec, opened here, gives the tiling as the library reads it.
  auto first = std::make_unique<TOpenCodec>();
  if (!first->File.Open(FPaths[band])) {
    error = "cannot open the file";
    return false;
  }
  if (!first->Codec.Open(first->File, header, FReduce, 0)) {
    error = first->Codec.Error();
    return false;
  }
  TTileGrid grid;
  const opj_image_t& image = *first->Codec.Image();
  if (!TTileGrid::FromCodec(first->Codec.Codec(), image, FReduce, grid) || image.x1 - image.x0 != header.Width ||
      image.y1 - image.y0 != header.Height) {
    error = "the library reads another tiling";
    return false;
  }
  if (!FHaveGrid) {
    FGrid->Grid = grid;
    const uint32_t width = header.WidthAt(FReduce), height = header.HeightAt(FReduce);
    const TPixelWindow window = FWindow.value_or(TPixelWindow{0, 0, width, height});
    if (window.Width == 0 || window.Height == 0 || window.Col >= width || window.Row >= height ||
        window.Width > width - window.Col || window.Height > height - window.Row) {
      error = "the window lies outside the picture";
      return false;
    }
    FWindow = window;
    FWidth = window.Width;
    FHeight = window.Height;
    FPictureHeight = height;
    // The tiles whose columns and rows meet the window; the others are never decoded.
    FTileColumns = 0;
    for (uint32_t col = 0; col < grid.Across; ++col) {
      const TTileGrid::TPlace place = grid.Place(col);
      if (place.Column + place.Width <= window.Col || place.Column >= window.Col + window.Width) continue;
      if (FTileColumns++ == 0) {
        FFirstTileColumn = col;
        FBufferLeft = place.Column;
      }
      FBufferWidth = place.Column + place.Width - FBufferLeft;
    }
    FRowIndex.clear();
    FRowTop.clear();
    FRowHeight.clear();
    for (uint32_t row = 0; row < grid.Down; ++row) {
      const TTileGrid::TPlace place = grid.Place(row * grid.Across);
      if (place.Row + place.Height <= window.Row || place.Row >= window.Row + window.Height) continue;
      FRowIndex.push_back(row);
      FRowTop.push_back(place.Row);
      FRowHeight.push_back(place.Height);
      FMaxRowHeight = std::max(FMaxRowHeight, place.Height);
    }
    if (FTileColumns == 0 || FRowIndex.empty()) {
      error = "no tile meets the window";
      return false;
    }
    FHaveGrid = true;
  } else if (!grid.SameAs(FGrid->Grid)) {
    error = std::string("its tiles do not line up with those of ") + kBandNames[0];
    return false;
  }
  if (FBuffer[0].empty() && !Allocate(FBuffer[0])) {
    error = "out of memory";
    return false;
  }
  state.Codecs[0] = std::move(first);

  std::atomic<bool> stop{false};
  std::atomic<uint32_t> tiles{0};
  int failedBand = -1;
  bool decoded = false;
  RunWithCallbacks([&] { decoded = DecodeRow(1u << band, 0, FBuffer[0], stop, &tiles, failedBand, error); }, stop,
                   callbacks, [&] {
                     if (callbacks.Progress) callbacks.Progress(tiles.load(), FTileColumns);
                   });
  if (!decoded) return false;
  FStarted |= 1u << band;
  return true;
}

bool TCompositeStream::DecodeTileInto(unsigned worker, int band, uint32_t row, uint32_t tile,
                                      std::vector<uint16_t>& buffer, std::string& error) {
  TTileGrid::TPlace place = FGrid->Grid.Place(tile);
  if (place.Width == 0 || place.Height == 0) return true;
  std::unique_ptr<TOpenCodec>& codec = FBands[band]->Codecs[worker];
  if (!codec) {
    codec = std::make_unique<TOpenCodec>();
    if (!codec->File.Open(FPaths[band])) {
      error = "cannot open the file";
      return false;
    }
    if (!codec->Codec.Open(codec->File, FBands[band]->Header, FReduce, 0)) {
      error = codec->Codec.Error();
      return false;
    }
  }
  if (!codec->Codec.DecodeTile(tile)) {
    error = codec->Codec.Error();
    return false;
  }
  const uint32_t top = FRowTop[row];
  if (place.Row != top || place.Height > FRowHeight[row]) {
    error = "tile " + std::to_string(tile) + " is not in its row";
    return false;
  }
  // The buffer starts at the first column of tiles that meets the window.
  place.Column -= FBufferLeft;
  TSampleTarget target;
  target.Width = FBufferWidth;
  target.Height = FPictureHeight;
  target.PixelStep = 3;
  uint16_t* const base = buffer.data() + band;
  const size_t stride = size_t{FBufferWidth} * 3;
  target.Row = [base, top, stride](uint32_t y) { return base + size_t{y - top} * stride; };
  if (!PlaceTile(*codec->Codec.Image(), place, target, FBands[band]->Header.Precision)) {
    error = "tile " + std::to_string(tile) + " does not match the header";
    return false;
  }
  codec->Codec.ReleaseTile();
  return true;
}

bool TCompositeStream::DecodeRow(unsigned mask, uint32_t row, std::vector<uint16_t>& buffer,
                                 const std::atomic<bool>& stop, std::atomic<uint32_t>* tilesDone, int& failedBand,
                                 std::string& error) {
  const TTileGrid& grid = FGrid->Grid;
  struct TItem {
    int Band;
    uint32_t Tile;
  };
  // Band by band, each band's tiles left to right: every codec sees its tiles in file order.
  std::vector<TItem> items;
  for (int b = 0; b < 3; ++b)
    if (mask & (1u << b))
      for (uint32_t i = FFirstTileColumn; i < FFirstTileColumn + FTileColumns; ++i)
        items.push_back({b, FRowIndex[row] * grid.Across + i});

  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex lock;
  const auto fail = [&](int band, const std::string& why) {
    std::lock_guard<std::mutex> hold(lock);
    if (!failed) {
      failedBand = band;
      error = why;
    }
    failed = true;
  };
  const auto work = [&](unsigned worker) {
    int band = -1;
    try {
      while (!stop && !failed) {
        const size_t k = next++;
        if (k >= items.size()) return;
        band = items[k].Band;
        std::string why;
        if (!DecodeTileInto(worker, band, row, items[k].Tile, buffer, why)) return fail(band, why);
        if (tilesDone) ++*tilesDone;
      }
    } catch (const std::bad_alloc&) {
      fail(band, "out of memory");
    } catch (...) {
      fail(band, "the decoder failed");
    }
  };

  const unsigned workers = static_cast<unsigned>(std::min<size_t>(FThreads, items.size()));
  std::vector<std::thread> team;
  for (unsigned w = 1; w < workers; ++w) {
    try {
      team.emplace_back(work, w);
    } catch (...) {
      break;  // fewer workers still finish the row
    }
  }
  work(0);
  for (auto& thread : team) thread.join();
  if (!failed && stop) {
    error = "stopped";
    return false;
  }
  return !failed;
}

TCompositeStream::TResult TCompositeStream::WriteTo(TRowSink& sink, const TWorkCallbacks& callbacks) {
  TResult result;
  if (FStarted != 7) {
    result.Error = "not every band has started";
    return result;
  }
  const uint32_t rows = TileRows();
  if (rows > 1 && FBuffer[1].empty() && !Allocate(FBuffer[1])) {
    result.Error = "out of memory";
    return result;
  }

  std::mutex lock;
  std::condition_variable changed;
  int64_t decodedRow = 0, writtenRow = -1;  // row 0 is in FBuffer[0] since the bands started
  bool failed = false;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> rowsPut{0};
  const auto failWith = [&](TResult::TKind kind, int band, const std::string& why) {
    std::lock_guard<std::mutex> hold(lock);
    if (!failed) {
      result.Kind = kind;
      result.Band = band;
      result.Error = why;
    }
    failed = true;
    stop = true;  // the other side gives up at its next tile or row
    changed.notify_all();
  };
  // Waits for the condition, a failure or a stop; true when the condition holds.
  const auto await = [&](const std::function<bool()>& ready) {
    std::unique_lock<std::mutex> hold(lock);
    while (!ready() && !failed && !stop) changed.wait_for(hold, kCallbackInterval);
    return !failed && !stop;
  };

  const auto write = [&] {
    try {
      for (uint32_t j = 0; j < rows; ++j) {
        if (!await([&] { return decodedRow >= j; })) return;
        // The window's rows and columns of this row of tiles.
        const uint32_t first = std::max(FRowTop[j], FWindow->Row);
        const uint32_t end = std::min(FRowTop[j] + FRowHeight[j], FWindow->Row + FWindow->Height);
        TRowView view;
        view.Top = reinterpret_cast<const uint8_t*>(FBuffer[j % 2].data() +
                                                    (size_t{first - FRowTop[j]} * FBufferWidth +
                                                     (FWindow->Col - FBufferLeft)) * 3);
        view.Stride = static_cast<ptrdiff_t>(FBufferWidth) * 6;
        view.Width = FWidth;
        view.Height = end > first ? end - first : 0;
        if (view.Height > 0 && !sink.Put(view)) return failWith(TResult::SinkFailed, -1, "the writer failed");
        rowsPut += view.Height;
        std::lock_guard<std::mutex> hold(lock);
        writtenRow = j;
        changed.notify_all();
      }
      if (!sink.Finish()) return failWith(TResult::SinkFailed, -1, "the writer failed");
      std::lock_guard<std::mutex> hold(lock);
      if (!failed) result.Kind = TResult::Written;
    } catch (...) {
      failWith(TResult::SinkFailed, -1, "the writer failed");
    }
  };
  // One team decodes every tile of rows 1 .. rows - 1, row by row, band by band, left to right
  // (so every codec still sees its tiles in file order), with no pause between rows: a worker
  // that finds no tile left in one row takes the next row's as soon as that row's buffer has
  // been written. A row is decoded once all its tiles are, and rows are handed over in order.
  const size_t perRow = size_t{3} * FTileColumns;
  const size_t items = rows > 1 ? (rows - 1) * perRow : 0;
  std::atomic<size_t> nextItem{0};
  std::vector<size_t> tilesLeft(rows, perRow);
  const auto decodeTiles = [&](unsigned worker) {
    int band = -1;
    try {
      for (size_t k; !stop && (k = nextItem++) < items;) {
        const uint32_t j = static_cast<uint32_t>(1 + k / perRow);
        band = static_cast<int>((k % perRow) / FTileColumns);
        const uint32_t tile = FRowIndex[j] * FGrid->Grid.Across + FFirstTileColumn + (k % FTileColumns);
        // Row j goes where row j - 2 was: that one must be written first.
        if (!await([&] { return writtenRow + 2 >= j; })) return;
        std::string why;
        if (!DecodeTileInto(worker, band, j, tile, FBuffer[j % 2], why)) {
          if (!stop) failWith(TResult::BandFailed, band, why);
          return;
        }
        std::lock_guard<std::mutex> hold(lock);
        if (--tilesLeft[j] == 0) {
          while (decodedRow + 1 < rows && tilesLeft[decodedRow + 1] == 0) ++decodedRow;
          changed.notify_all();
        }
      }
    } catch (const std::bad_alloc&) {
      failWith(TResult::BandFailed, band, "out of memory");
    } catch (...) {
      failWith(TResult::BandFailed, band, "the decoder failed");
    }
  };
  const auto decode = [&] {
    const unsigned workers = static_cast<unsigned>(std::min<size_t>(FThreads, std::max<size_t>(items, 1)));
    std::vector<std::thread> team;
    for (unsigned w = 1; w < workers; ++w) {
      try {
        team.emplace_back(decodeTiles, w);
      } catch (...) {
        break;  // fewer workers still finish the picture
      }
    }
    decodeTiles(0);
    for (auto& thread : team) thread.join();
  };
  RunWithCallbacks(
      [&] {
        std::thread writer;
        try {
          writer = std::thread(write);
        } catch (...) {
          failWith(TResult::SinkFailed, -1, "cannot start the writer");
          return;
        }
        decode();
        writer.join();
      },
      stop, callbacks,
      [&] {
        if (callbacks.Progress) callbacks.Progress(rowsPut.load(), FHeight);
      });
  // The buffers are not needed once the picture is written.
  FBuffer[0] = std::vector<uint16_t>();
  FBuffer[1] = std::vector<uint16_t>();
  return result;
}
