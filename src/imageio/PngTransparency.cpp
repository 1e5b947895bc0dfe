#include "PngTransparency.h"

#include <zlib.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>

namespace {
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr size_t kHeaderEnd = 8 + 4 + 4 + 13 + 4;  // signature, then IHDR's length, type, data, CRC
constexpr uint8_t kColourTypeRgb = 2;
constexpr size_t kShiftBlock = 1u << 20;

void PutBigEndian32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

struct TFileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<FILE, TFileCloser>;

FILE* OpenForUpdate(const std::filesystem::path& file) {
#if defined(_WIN32)
  return _wfopen(file.wstring().c_str(), L"r+b");
#else
  return std::fopen(file.c_str(), "r+b");
#endif
}

bool SeekTo(FILE* f, int64_t offset) {
#if defined(_WIN32)
  return _fseeki64(f, offset, SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}
}  // namespace

std::vector<uint8_t> PngTransparentColourChunk(uint16_t red, uint16_t green, uint16_t blue) {
  std::vector<uint8_t> chunk;
  PutBigEndian32(chunk, 6);
  for (char c : {'t', 'R', 'N', 'S'}) chunk.push_back(static_cast<uint8_t>(c));
  for (uint16_t v : {red, green, blue}) {
    chunk.push_back(static_cast<uint8_t>(v >> 8));
    chunk.push_back(static_cast<uint8_t>(v));
  }
  const uLong crc = crc32(crc32(0, nullptr, 0), chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
  PutBigEndian32(chunk, static_cast<uint32_t>(crc));
  return chunk;
}

bool InsertPngChunkAfterHeader(const std::filesystem::path& file, const std::vector<uint8_t>& chunk,
                               std::string& error) {
  TFile f(OpenForUpdate(file));
  if (!f) {
    error = "cannot open the file";
    return false;
  }
  uint8_t head[kHeaderEnd + 8];
  const size_t got = std::fread(head, 1, sizeof head, f.get());
  if (got < sizeof head || std::memcmp(head, kPngSignature, 8) != 0 || BigEndian32(head + 8) != 13 ||
      std::memcmp(head + 12, "IHDR", 4) != 0) {
    error = "not a PNG file";
    return false;
  }
  if (head[8 + 8 + 9] != kColourTypeRgb) {
    error = "not an RGB PNG";
    return false;
  }
  if (std::memcmp(head + kHeaderEnd + 4, "tRNS", 4) == 0) {
    error = "the PNG already marks a transparent colour";
    return false;
  }

  // Moves everything after the header up by the chunk's size, last block first, so that no
  // byte is overwritten before it has been read.
  if (std::fseek(f.get(), 0, SEEK_END) != 0) {
    error = "cannot seek in the file";
    return false;
  }
#if defined(_WIN32)
  const int64_t size = _ftelli64(f.get());
#else
  const int64_t size = ftello(f.get());
#endif
  std::vector<uint8_t> block(kShiftBlock);
  int64_t end = size;
  while (end > static_cast<int64_t>(kHeaderEnd)) {
    const int64_t begin = std::max<int64_t>(kHeaderEnd, end - static_cast<int64_t>(kShiftBlock));
    const size_t n = static_cast<size_t>(end - begin);
    if (!SeekTo(f.get(), begin) || std::fread(block.data(), 1, n, f.get()) != n ||
        !SeekTo(f.get(), begin + static_cast<int64_t>(chunk.size())) ||
        std::fwrite(block.data(), 1, n, f.get()) != n) {
      error = "cannot rewrite the file";
      return false;
    }
    end = begin;
  }
  if (!SeekTo(f.get(), kHeaderEnd) || std::fwrite(chunk.data(), 1, chunk.size(), f.get()) != chunk.size() ||
      std::fflush(f.get()) != 0) {
    error = "cannot rewrite the file";
    return false;
  }
  if (std::fclose(f.release()) != 0) {
    error = "cannot close the file";
    return false;
  }
  return true;
}
