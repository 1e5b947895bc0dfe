#include "PngWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "ParallelBlocks.h"
#include "RowSinkFeed.h"

namespace {
// About 1 MiB of samples per run of rows; each run starts with an empty dictionary, which
// costs a few bytes per run only. Runs in flight are copies of the rows, so their size counts
// in a streamed job's peak.
constexpr size_t kBlockBytes = size_t(1) << 20;
constexpr int kLevel = 1;  // the fastest, as PNG saving always was
constexpr uint32_t kMaxChunk = 1u << 30;

void PutBig32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

bool WriteChunk(TOutputFile& file, const char* type, const uint8_t* data, size_t size) {
  do {
    const uint32_t part = static_cast<uint32_t>(std::min<size_t>(size, kMaxChunk));
    uint8_t head[8];
    PutBig32(head, part);
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, head + 4, 4);
    if (part > 0) crc = crc32(crc, data, part);
    uint8_t tail[4];
    PutBig32(tail, static_cast<uint32_t>(crc));
    if (!file.Write(head, 8) || (part > 0 && !file.Write(data, part)) || !file.Write(tail, 4)) return false;
    data += part;
    size -= part;
  } while (size > 0);
  return true;
}

// A row in PNG's byte order (big-endian samples).
void RowBytes(const uint16_t* samples, size_t count, uint8_t* out) {
  for (size_t i = 0; i < count; ++i) {
    out[2 * i] = static_cast<uint8_t>(samples[i] >> 8);
    out[2 * i + 1] = static_cast<uint8_t>(samples[i]);
  }
}

// Filters one row with the Sub filter (type 1): each byte less the same byte of the pixel to
// its left. On Sentinel-2 composites it compresses within a per cent of Paeth and Up at a
// fraction of their cost, and it needs no row above, so runs of rows stand alone.
void FilterRow(const uint8_t* row, size_t size, uint8_t* out) {
  constexpr size_t kPixel = 6;
  out[0] = 1;
  ++out;
  for (size_t i = 0; i < std::min(size, kPixel); ++i) out[i] = row[i];
  for (size_t i = kPixel; i < size; ++i) out[i] = static_cast<uint8_t>(row[i] - row[i - kPixel]);
}

// One run of rows: filtered, then raw deflate ending on a byte boundary (a full flush), or with
// the final block for the last run. The first run carries the zlib header. The run's Adler-32
// goes in the last four bytes of out, for the caller to combine and strip.
bool EncodeBlock(const TRowView& rows, bool first, bool last, std::vector<uint8_t>& out) {
  const size_t samples = static_cast<size_t>(rows.Width) * 3, size = samples * 2;
  const uint32_t count = rows.Height;
  std::vector<uint8_t> row(size), filtered((size + 1) * count);
  for (uint32_t r = 0; r < count; ++r) {
    RowBytes(rows.Row(r), samples, row.data());
    FilterRow(row.data(), size, filtered.data() + r * (size + 1));
  }

  z_stream stream{};
  if (deflateInit2(&stream, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  const size_t head = first ? 2 : 0;
  out.resize(head + deflateBound(&stream, static_cast<uLong>(filtered.size())) + 16);
  if (head) {
    out[0] = 0x78;  // deflate, 32 KiB window
    out[1] = 0x01;  // fastest level; (0x78 << 8 | 0x01) is a multiple of 31
  }
  stream.next_in = filtered.data();
  stream.avail_in = static_cast<uInt>(filtered.size());
  stream.next_out = out.data() + head;
  stream.avail_out = static_cast<uInt>(out.size() - head - 4);
  const int result = deflate(&stream, last ? Z_FINISH : Z_FULL_FLUSH);
  const bool done = last ? result == Z_STREAM_END : (result == Z_OK && stream.avail_in == 0 && stream.avail_out > 0);
  const size_t produced = head + stream.total_out;
  deflateEnd(&stream);
  if (!done) return false;
  out.resize(produced + 4);
  PutBig32(out.data() + produced, static_cast<uint32_t>(adler32(1L, filtered.data(), static_cast<uInt>(filtered.size()))));
  return true;
}

// A text chunk under keyword, left out when the text is empty. tEXt holds Latin-1; anything
// beyond ASCII is taken as UTF-8 and goes in an iTXt chunk.
bool WriteText(TOutputFile& file, const char* keyword, const std::string& value) {
  const std::string text = value.substr(0, value.find('\0'));
  if (text.empty()) return true;
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::string body = keyword;
  body += '\0';
  if (!ascii) body.append(4, '\0');  // not compressed, method 0, no language, no translated keyword
  body += text;
  return WriteChunk(file, ascii ? "tEXt" : "iTXt", reinterpret_cast<const uint8_t*>(body.data()), body.size());
}

bool WriteHeader(TOutputFile& file, const TRowView& rows, const TImageMetadata& metadata) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  uint8_t header[13];
  PutBig32(header, rows.Width);
  PutBig32(header + 4, rows.Height);
  header[8] = 16;  // bits per sample
  header[9] = 2;   // RGB
  header[10] = header[11] = header[12] = 0;  // deflate, adaptive filtering, no interlace
  if (!file.Write(kSignature, 8) || !WriteChunk(file, "IHDR", header, 13)) return false;
  return WriteText(file, "Description", metadata.Description) && WriteText(file, "Software", metadata.Software);
}

// Runs of rows filtered and deflated on workers; the IDAT chunks go out in order on the thread
// that puts the rows, the last one carrying the Adler-32 of the whole stream.
class TPngSink final : public TRowSink {
 public:
  TPngSink(TOutputFile& file, uint32_t width, uint32_t height, uint32_t rowsPerBlock, unsigned workers)
      : FFile(file), FRowBytes(size_t{width} * 6 + 1), FHeight(height), FRowsPerBlock(rowsPerBlock) {
    const size_t blocks = (size_t{height} + rowsPerBlock - 1) / rowsPerBlock;
    FBlocks = std::make_unique<TRowBlocks>(
        width, height, rowsPerBlock, workers,
        [blocks](size_t block, const TRowView& rows, std::vector<uint8_t>& out) {
          return EncodeBlock(rows, block == 0, block + 1 == blocks, out);
        },
        [this, blocks](size_t block, std::vector<uint8_t>& bytes) {
          if (bytes.size() < 4) return false;
          const uint8_t* tail = bytes.data() + bytes.size() - 4;
          const uLong blockAdler = (uLong(tail[0]) << 24) | (uLong(tail[1]) << 16) | (uLong(tail[2]) << 8) | tail[3];
          const uint32_t first = static_cast<uint32_t>(block) * FRowsPerBlock;
          const uint32_t count = std::min(FRowsPerBlock, FHeight - first);
          FAdler = adler32_combine(FAdler, blockAdler, static_cast<z_off_t>(FRowBytes * count));
          bytes.resize(bytes.size() - 4);
          if (block + 1 == blocks) {
            bytes.resize(bytes.size() + 4);
            PutBig32(bytes.data() + bytes.size() - 4, static_cast<uint32_t>(FAdler));
          }
          return WriteChunk(FFile, "IDAT", bytes.data(), bytes.size());
        });
  }
  bool Put(const TRowView& rows) override { return !FDone && FBlocks->Put(rows); }
  bool Finish() override {
    if (FDone) return false;
    FDone = true;
    return FBlocks->Finish() && WriteChunk(FFile, "IEND", nullptr, 0) && !FFile.Failed();
  }

 private:
  TOutputFile& FFile;
  const size_t FRowBytes;  // filtered: the filter byte and the samples
  const uint32_t FHeight, FRowsPerBlock;
  uLong FAdler = 1;
  bool FDone = false;
  std::unique_ptr<TRowBlocks> FBlocks;  // last: its workers stop before the rest goes
};
}  // namespace

std::unique_ptr<TRowSink> OpenPngSink(TOutputFile& file, uint32_t width, uint32_t height,
                                      const TImageMetadata& metadata, unsigned workers) {
  if (width == 0 || height == 0) return nullptr;
  // PNG limits both sizes to 2^31 - 1; a row must also fit zlib's 32-bit counters.
  const size_t rowBytes = size_t{width} * 6 + 1;
  if (width > 0x7fffffffu || height > 0x7fffffffu || rowBytes > (1u << 30)) return nullptr;
  TRowView shape;
  shape.Width = width;
  shape.Height = height;
  if (!WriteHeader(file, shape, metadata)) return nullptr;
  const uint32_t rowsPerBlock = static_cast<uint32_t>(std::clamp<size_t>((kBlockBytes + rowBytes - 1) / rowBytes, 1, height));
  try {
    return std::make_unique<TPngSink>(file, width, height, rowsPerBlock, workers);
  } catch (...) {
    return nullptr;
  }
}

bool WritePng48(TOutputFile& file, const TRowView& rows, const TImageMetadata& metadata,
                const TWorkCallbacks& callbacks, unsigned workers) {
  if (rows.Width == 0 || rows.Height == 0 || !rows.Top) return false;
  const std::unique_ptr<TRowSink> sink = OpenPngSink(file, rows.Width, rows.Height, metadata, workers);
  return sink && PutWholePicture(*sink, rows, callbacks);
}
