#include "PngTransparency.h"

#include <zlib.h>

#include <cstdio>
#include <algorithm>
#include <cstring>

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

bool InsertPngChunkAfterHeader(TOutputFile& file, const std::vector<uint8_t>& chunk, std::string& error) {
  uint8_t head[kHeaderEnd + 8];
  if (file.Seek(0, SEEK_SET) != 0 || file.Read(head, sizeof head) != static_cast<int64_t>(sizeof head) ||
      std::memcmp(head, kPngSignature, 8) != 0 || BigEndian32(head + 8) != 13 || std::memcmp(head + 12, "IHDR", 4) != 0) {
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
  const int64_t size = file.Size();
  if (size < 0) {
    error = "cannot seek in the file";
    return false;
  }
  std::vector<uint8_t> block(kShiftBlock);
  int64_t end = size;
  while (end > static_cast<int64_t>(kHeaderEnd)) {
    const int64_t begin = std::max<int64_t>(kHeaderEnd, end - static_cast<int64_t>(kShiftBlock));
    const size_t n = static_cast<size_t>(end - begin);
    if (file.Seek(begin, SEEK_SET) != begin || file.Read(block.data(), n) != static_cast<int64_t>(n) ||
        file.Seek(begin + static_cast<int64_t>(chunk.size()), SEEK_SET) < 0 || !file.Write(block.data(), n)) {
      error = "cannot rewrite the file";
      return false;
    }
    end = begin;
  }
  if (file.Seek(kHeaderEnd, SEEK_SET) < 0 || !file.Write(chunk.data(), chunk.size())) {
    error = "cannot rewrite the file";
    return false;
  }
  return true;
}
