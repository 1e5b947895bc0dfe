// The composite made one row of code-stream tiles at a time: the tiles of that row of each of
// the three bands are decoded straight into one interleaved RGB row buffer, whose rows then go
// to a row sink, while the next row of tiles decodes into a second buffer. So the picture is
// never held whole: memory is two rows of tiles plus the decoders' and the writer's work in
// flight, whatever the picture's height.
#pragma once
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Jp2BandDecoder.h"
#include "Jp2Header.h"
#include "PixelWindow.h"
#include "RowSink.h"
#include "WorkCallbacks.h"

// Whether the three bands (red, green, blue) can be streamed together: plain bands of more than
// one tile, on one grid with one tiling, with the resolution level asked for. When not, why
// (for the caller's note on the way it took).
bool CanStreamBands(const TJp2Header (&headers)[3], unsigned reduce, std::string& why);

class TCompositeStream {
 public:
  // reduce: decode at 1/2^reduce of the full resolution. threads: decoding threads (0: as
  // Jp2DecodeThreads says).
  TCompositeStream(const std::filesystem::path (&bands)[3], unsigned reduce, unsigned threads = 0);
  ~TCompositeStream();
  TCompositeStream(const TCompositeStream&) = delete;
  TCompositeStream& operator=(const TCompositeStream&) = delete;

  // Makes the composite only the window (in pixels at the decoded resolution), before the
  // first band starts: only the code-stream tiles that meet it are decoded, and only its rows
  // and columns reach the sink. Without one the composite is the whole picture.
  void SetWindow(const TPixelWindow& window) { FWindow = window; }

  // Opens band (0 red, 1 green, 2 blue) and decodes its share of the first row of tiles; the
  // calling thread meanwhile runs the keep-alive and the progress (in tiles) at least every
  // 100 ms. False with a reason when the band cannot be read, its tiling differs from the
  // bands started before it, or its first tiles do not decode.
  bool StartBand(int band, const TWorkCallbacks& callbacks, std::string& error);

  // The composite's size: the window's, or the picture's at the decoded resolution.
  uint32_t Width() const { return FWidth; }
  uint32_t Height() const { return FHeight; }
  uint32_t TileRows() const { return static_cast<uint32_t>(FRowTop.size()); }

  struct TResult {
    enum TKind { Written, BandFailed, SinkFailed } Kind = SinkFailed;
    int Band = -1;  // with BandFailed: which
    std::string Error;
  };
  // Once all three bands have started: decodes the other rows of tiles and puts every row of
  // the picture into sink, top to bottom, then finishes it. The sink works on one row of tiles
  // on its own thread while the next one decodes; the calling thread runs the keep-alive and
  // the progress (in rows put) at least every 100 ms. A band that fails part way stops
  // everything: the sink is then left unfinished.
  TResult WriteTo(TRowSink& sink, const TWorkCallbacks& callbacks);

 private:
  struct TBandState;
  // Decodes one tile of band, in row of tiles `row`, into its place in buffer, with worker's
  // codec for that band (opened when first needed).
  bool DecodeTileInto(unsigned worker, int band, uint32_t row, uint32_t tile, std::vector<uint16_t>& buffer,
                      std::string& error);
  // Decodes row of tiles `row` of the bands in mask (bit b: band b) into buffer.
  bool DecodeRow(unsigned mask, uint32_t row, std::vector<uint16_t>& buffer, const std::atomic<bool>& stop,
                 std::atomic<uint32_t>* tilesDone, int& failedBand, std::string& error);
  bool Allocate(std::vector<uint16_t>& buffer);

  std::filesystem::path FPaths[3];
  unsigned FReduce;
  unsigned FThreads;
  std::unique_ptr<TBandState> FBands[3];
  bool FHaveGrid = false;
  struct TGridHolder;
  std::unique_ptr<TGridHolder> FGrid;
  std::optional<TPixelWindow> FWindow;
  uint32_t FWidth = 0, FHeight = 0;
  // The decoded picture's height, and the picture columns the buffers hold: those of the
  // tile columns that meet the window.
  uint32_t FPictureHeight = 0, FBufferLeft = 0, FBufferWidth = 0;
  uint32_t FFirstTileColumn = 0, FTileColumns = 0;
  // Each row of tiles that meets the window: its row in the tiling, top and height in the
  // decoded picture.
  std::vector<uint32_t> FRowIndex, FRowTop, FRowHeight;
  uint32_t FMaxRowHeight = 0;
  std::vector<uint16_t> FBuffer[2];
  unsigned FStarted = 0;  // bit b: band b has its share of row 0 in FBuffer[0]
};
