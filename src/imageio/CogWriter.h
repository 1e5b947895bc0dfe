// The 48-bit composite as a cloud-optimised GeoTIFF, written as its rows arrive: 512 x 512
// tiles, each deflated with the horizontal predictor on a worker, and internal overviews, each
// half the size of the level below (rounded up) until one fits in a tile. An overview sample is
// the rounded mean of the non-zero samples of its channel in the 2 x 2 block below it, 0 when
// there are none: 0 is no data, as GDAL_NODATA says, and GDAL averages its overviews so.
//
// Only one row of tiles of each level is held at a time (of the full picture none, when its rows
// come a whole row of tiles at a time, as the streaming job gives them). Every directory must come before the
// tile data, smallest overview first, so the compressed tiles wait in spill files beside the
// output (temporary files, removed on every way out) and are copied into place by Finish.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "ImageMetadata.h"
#include "OutputFile.h"
#include "RowSink.h"
#include "RowView.h"
#include "WorkCallbacks.h"

class TTempFile;

class TCogWriter final : public TRowSink {
 public:
  static constexpr uint32_t kTileSize = 512;

  // A width x height picture into file; spill files go beside target (the output's final
  // name). workers 0: one per core; the bytes written are the same for any count.
  TCogWriter(TOutputFile& file, const std::filesystem::path& target, uint32_t width, uint32_t height,
             const TImageMetadata& metadata, unsigned workers = 0);
  ~TCogWriter() override;
  TCogWriter(const TCogWriter&) = delete;
  TCogWriter& operator=(const TCogWriter&) = delete;

  bool Put(const TRowView& rows) override;
  bool Finish() override;
  // False when the writer could not start (an empty picture, no memory, no spill file).
  bool Ready() const { return !FFailed && !FFinished; }

  // The sizes of the full picture and its overviews, largest first.
  static std::vector<std::pair<uint32_t, uint32_t>> LevelSizes(uint32_t width, uint32_t height);

 private:
  struct TLevel;
  struct TPiece;
  bool FlushTileRow(size_t index);
  // Appends one compressed tile to the spill file; piece says where it went.
  bool Spill(const std::vector<uint8_t>& bytes, TPiece& piece);
  bool Fail() {
    FFailed = true;
    return false;
  }

  TOutputFile& FFile;
  std::filesystem::path FTarget;
  TImageMetadata FMetadata;
  unsigned FWorkers;
  std::vector<std::unique_ptr<TLevel>> FLevels;
  // One spill file holds the tiles of every level as they are made; Finish picks them out in
  // the file's order.
  std::unique_ptr<TTempFile> FSpill;
  bool FFailed = false;
  bool FFinished = false;
};

// The writer as the streaming job takes its sinks: null when it cannot start. The file must
// outlive the sink.
std::unique_ptr<TRowSink> OpenCogSink(TOutputFile& file, const std::filesystem::path& target, uint32_t width,
                                      uint32_t height, const TImageMetadata& metadata, unsigned workers = 0);

// The whole picture at once, for a caller that holds it: true when every row went in and the
// file was completed. KeepAlive is called between bands of rows.
bool WriteCog48(TOutputFile& file, const std::filesystem::path& target, const TRowView& rows,
                const TImageMetadata& metadata, const TWorkCallbacks& callbacks, unsigned workers = 0);
