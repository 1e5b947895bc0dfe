// What the COG tests read back: the raw directories of a TIFF (every tag's bytes, whatever it
// is), the decoded tiles of each level through libtiff, and the reference overviews.
#pragma once
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "WriterTestKit.h"

namespace cogtest {
using writertest::fs::path;

// One directory as stored: each tag's type, count and value bytes (little-endian files only).
struct TRawEntry {
  uint16_t Type = 0;
  uint64_t Count = 0;
  std::string Bytes;
};
struct TRawDirectory {
  uint64_t Offset = 0;
  std::map<uint16_t, TRawEntry> Entries;
  // An offsets or counts tag read as numbers.
  std::vector<uint64_t> Numbers(uint16_t tag) const {
    std::vector<uint64_t> values;
    const auto it = Entries.find(tag);
    if (it == Entries.end()) return values;
    const int size = it->second.Type == 3 ? 2 : it->second.Type == 16 ? 8 : 4;
    for (uint64_t i = 0; i < it->second.Count; ++i) {
      uint64_t v = 0;
      for (int b = 0; b < size; ++b) v |= uint64_t(uint8_t(it->second.Bytes[i * size + b])) << (8 * b);
      values.push_back(v);
    }
    return values;
  }
};

inline uint64_t Le(const std::string& file, uint64_t at, int bytes) {
  uint64_t v = 0;
  for (int b = 0; b < bytes && at + b < file.size(); ++b) v |= uint64_t(uint8_t(file[at + b])) << (8 * b);
  return v;
}

// Every directory in the chain; empty when the header is not a little-endian TIFF or BigTIFF.
inline std::vector<TRawDirectory> RawDirectories(const std::string& file, bool* big = nullptr) {
  std::vector<TRawDirectory> directories;
  if (file.size() < 16 || file.compare(0, 2, "II") != 0) return directories;
  const bool isBig = Le(file, 2, 2) == 43;
  if (big) *big = isBig;
  const int offsetBytes = isBig ? 8 : 4;
  const size_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 0, 0, 0, 8, 8, 8};
  uint64_t at = Le(file, isBig ? 8 : 4, offsetBytes);
  while (at != 0 && at < file.size() && directories.size() < 64) {
    TRawDirectory directory;
    directory.Offset = at;
    const uint64_t count = Le(file, at, isBig ? 8 : 2);
    uint64_t entry = at + (isBig ? 8 : 2);
    for (uint64_t i = 0; i < count; ++i, entry += isBig ? 20 : 12) {
      TRawEntry raw;
      const uint16_t tag = uint16_t(Le(file, entry, 2));
      raw.Type = uint16_t(Le(file, entry + 2, 2));
      raw.Count = Le(file, entry + 4, offsetBytes);
      const uint64_t bytes = raw.Count * (raw.Type < 19 ? sizes[raw.Type] : 1);
      const uint64_t field = entry + 4 + offsetBytes;
      const uint64_t from = bytes <= uint64_t(offsetBytes) ? field : Le(file, field, offsetBytes);
      if (from + bytes > file.size()) return {};
      raw.Bytes = file.substr(from, bytes);
      directory.Entries[tag] = raw;
    }
    directories.push_back(directory);
    at = Le(file, entry, offsetBytes);
  }
  return directories;
}

// The picture of one level, top row first, 3 samples a pixel.
struct TLevelPicture {
  uint32_t Width = 0, Height = 0;
  std::vector<uint16_t> Samples;
  uint16_t At(uint32_t x, uint32_t y, int c) const { return Samples[(size_t(y) * Width + x) * 3 + c]; }
};

// The next level as GDAL's averaging with nodata 0 makes it: per channel, the mean of the
// non-zero samples of the 2 x 2 block (cut short at the edges), rounded half up; 0 when none.
inline TLevelPicture HalvedReference(const TLevelPicture& level) {
  TLevelPicture half;
  half.Width = (level.Width + 1) / 2;
  half.Height = (level.Height + 1) / 2;
  half.Samples.resize(size_t(half.Width) * half.Height * 3);
  for (uint32_t y = 0; y < half.Height; ++y)
    for (uint32_t x = 0; x < half.Width; ++x)
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        int valid = 0;
        for (uint32_t dy = 0; dy < 2; ++dy)
          for (uint32_t dx = 0; dx < 2; ++dx) {
            const uint32_t sx = 2 * x + dx, sy = 2 * y + dy;
            if (sx >= level.Width || sy >= level.Height || level.At(sx, sy, c) == 0) continue;
            sum += level.At(sx, sy, c);
            ++valid;
          }
        half.Samples[(size_t(y) * half.Width + x) * 3 + c] = valid ? uint16_t(std::floor(sum / valid + 0.5)) : 0;
      }
  return half;
}

// libtiff over stdio: the Windows FreeImage brings a TIFFOpen of its own.
inline tmsize_t Read(thandle_t f, void* data, tmsize_t size) {
  return tmsize_t(std::fread(data, 1, size_t(size), static_cast<FILE*>(f)));
}
inline tmsize_t Write(thandle_t, void*, tmsize_t) { return -1; }
inline toff_t Seek(thandle_t f, toff_t offset, int whence) {
#if defined(_WIN32)
  if (_fseeki64(static_cast<FILE*>(f), int64_t(offset), whence) != 0) return toff_t(-1);
  return toff_t(_ftelli64(static_cast<FILE*>(f)));
#else
  if (fseeko(static_cast<FILE*>(f), off_t(offset), whence) != 0) return toff_t(-1);
  return toff_t(ftello(static_cast<FILE*>(f)));
#endif
}
inline int Close(thandle_t f) { return std::fclose(static_cast<FILE*>(f)); }
inline toff_t Size(thandle_t f) {
  const toff_t at = Seek(f, 0, SEEK_CUR), end = Seek(f, 0, SEEK_END);
  Seek(f, at, SEEK_SET);
  return end;
}
inline int Map(thandle_t, void**, toff_t*) { return 0; }
inline void Unmap(thandle_t, void*, toff_t) {}

struct TTiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TTiff = std::unique_ptr<TIFF, TTiffCloser>;
inline TTiff OpenTiff(const path& file) {
  TIFFSetWarningHandler(nullptr);  // the GeoTIFF tags are unknown to libtiff, and that is fine
#if defined(_WIN32)
  FILE* f = _wfopen(file.c_str(), L"rb");
#else
  FILE* f = std::fopen(file.c_str(), "rb");
#endif
  if (!f) return nullptr;
  TIFF* tif = TIFFClientOpen("test", "r", f, Read, Write, Seek, Close, Size, Map, Unmap);
  if (!tif) std::fclose(f);
  return TTiff(tif);
}

// Directory `index` decoded tile by tile; Width 0 when it cannot be read.
inline TLevelPicture ReadTiledLevel(TIFF* tif, tdir_t index) {
  TLevelPicture level;
  uint32_t width = 0, height = 0, tileWidth = 0, tileHeight = 0;
  if (!TIFFSetDirectory(tif, index) || !TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) || !TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth) ||
      !TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight))
    return level;
  std::vector<uint16_t> tile(size_t(tileWidth) * tileHeight * 3);
  std::vector<uint16_t> samples(size_t(width) * height * 3);
  for (uint32_t ty = 0; ty < height; ty += tileHeight)
    for (uint32_t tx = 0; tx < width; tx += tileWidth) {
      if (TIFFReadTile(tif, tile.data(), tx, ty, 0, 0) < 0) return level;
      for (uint32_t y = ty; y < std::min(height, ty + tileHeight); ++y)
        for (uint32_t x = tx; x < std::min(width, tx + tileWidth); ++x)
          for (int c = 0; c < 3; ++c)
            samples[(size_t(y) * width + x) * 3 + c] = tile[(size_t(y - ty) * tileWidth + (x - tx)) * 3 + c];
    }
  level.Width = width;
  level.Height = height;
  level.Samples = std::move(samples);
  return level;
}

// Compares two pictures; reports the first few differences only.
inline void ExpectSamePicture(const TLevelPicture& got, const TLevelPicture& expected, const std::string& what) {
  ASSERT_EQ(got.Width, expected.Width) << what;
  ASSERT_EQ(got.Height, expected.Height) << what;
  int reported = 0;
  for (size_t i = 0; i < got.Samples.size() && reported < 3; ++i)
    if (got.Samples[i] != expected.Samples[i]) {
      ++reported;
      const size_t pixel = i / 3;
      ADD_FAILURE() << what << ": sample " << pixel % got.Width << "," << pixel / got.Width << "," << i % 3 << " is "
                    << got.Samples[i] << ", expected " << expected.Samples[i];
    }
}
}  // namespace cogtest
