#include "CogWriterLayout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
// TIFF field types.
constexpr uint16_t kAscii = 2, kShort = 3, kLong = 4, kDouble = 12, kLong8 = 16;
// Tags, ascending as a directory lists them.
constexpr uint16_t kNewSubfileType = 254, kImageWidth = 256, kImageLength = 257, kBitsPerSample = 258,
                   kCompression = 259, kPhotometric = 262, kImageDescription = 270, kSamplesPerPixel = 277,
                   kPlanarConfig = 284, kSoftware = 305, kPredictor = 317, kTileWidth = 322, kTileLength = 323, kTileOffsets = 324,
                   kTileByteCounts = 325, kSampleFormat = 339, kPixelScale = 33550, kTiepoint = 33922,
                   kGeoKeys = 34735, kGeoDoubles = 34736, kGeoAscii = 34737, kGdalNoData = 42113;
constexpr uint16_t kReducedImage = 1, kAdobeDeflate = 8, kRgb = 2, kContig = 1, kHorizontal = 2, kUnsigned = 1;
// Classic TIFF addresses bytes up to 2^32 - 1.
constexpr uint64_t kClassicLimit = 0xffffffffull;
// GDAL's note on the layout, right after the header, through which GDAL's readers (and
// gdalinfo's LAYOUT=COG) know they may fetch a tile with its size in front of it.
constexpr char kStructure[] =
    "LAYOUT=IFDS_BEFORE_DATA\n"
    "BLOCK_ORDER=ROW_MAJOR\n"
    "BLOCK_LEADER=SIZE_AS_UINT4\n"
    "BLOCK_TRAILER=LAST_4_BYTES_REPEATED\n"
    "KNOWN_INCOMPATIBLE_EDITION=NO\n"
    " ";

struct TEntry {
  uint16_t Tag = 0, Type = 0;
  uint64_t Count = 0;
  std::vector<uint8_t> Value;  // little-endian, Count items of Type
};

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void PutLeAt(std::vector<uint8_t>& out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

TEntry Shorts(uint16_t tag, const std::vector<uint16_t>& values) {
  TEntry entry{tag, kShort, values.size(), {}};
  for (uint16_t v : values) PutLe(entry.Value, v, 2);
  return entry;
}
TEntry Short(uint16_t tag, uint16_t value) { return Shorts(tag, {value}); }
TEntry Long(uint16_t tag, uint32_t value) {
  TEntry entry{tag, kLong, 1, {}};
  PutLe(entry.Value, value, 4);
  return entry;
}
TEntry Doubles(uint16_t tag, const double* values, size_t count) {
  TEntry entry{tag, kDouble, count, {}};
  for (size_t i = 0; i < count; ++i) {
    uint64_t bits;
    std::memcpy(&bits, &values[i], sizeof bits);
    PutLe(entry.Value, bits, 8);
  }
  return entry;
}
TEntry Text(uint16_t tag, const std::string& text) {
  TEntry entry{tag, kAscii, text.size() + 1, {}};
  entry.Value.assign(text.begin(), text.end());
  entry.Value.push_back(0);
  return entry;
}
// Offsets and byte counts: LONG in classic TIFF, LONG8 in BigTIFF.
TEntry Offsets(uint16_t tag, const std::vector<uint64_t>& values, bool big) {
  TEntry entry{tag, big ? kLong8 : kLong, values.size(), {}};
  for (uint64_t v : values) PutLe(entry.Value, v, big ? 8 : 4);
  return entry;
}

// What the plain TIFF writer carries besides its samples, for the full picture's directory.
void AddMetadata(std::vector<TEntry>& entries, const TImageMetadata& metadata) {
  if (!metadata.Description.empty()) entries.push_back(Text(kImageDescription, metadata.Description));
  if (!metadata.Software.empty()) entries.push_back(Text(kSoftware, metadata.Software));
  if (metadata.GeoTiff) {
    const TGeoTiffTags& geo = *metadata.GeoTiff;
    entries.push_back(Doubles(kPixelScale, geo.PixelScale, 3));
    entries.push_back(Doubles(kTiepoint, geo.Tiepoint, 6));
    if (!geo.GeoKeys.empty()) entries.push_back(Shorts(kGeoKeys, geo.GeoKeys));
    if (!geo.GeoDoubleParams.empty())
      entries.push_back(Doubles(kGeoDoubles, geo.GeoDoubleParams.data(), geo.GeoDoubleParams.size()));
    if (!geo.GeoAsciiParams.empty()) entries.push_back(Text(kGeoAscii, geo.GeoAsciiParams));
  }
}

std::vector<TEntry> LevelEntries(const TCogLevel& level, size_t index, uint32_t tileSize,
                                 const std::vector<uint64_t>& offsets, const TImageMetadata& metadata, bool big) {
  std::vector<TEntry> entries;
  if (index > 0) entries.push_back(Long(kNewSubfileType, kReducedImage));
  entries.push_back(Long(kImageWidth, level.Width));
  entries.push_back(Long(kImageLength, level.Height));
  entries.push_back(Shorts(kBitsPerSample, {16, 16, 16}));
  entries.push_back(Short(kCompression, kAdobeDeflate));
  entries.push_back(Short(kPhotometric, kRgb));
  entries.push_back(Short(kSamplesPerPixel, 3));
  entries.push_back(Short(kPlanarConfig, kContig));
  entries.push_back(Short(kPredictor, kHorizontal));
  entries.push_back(Long(kTileWidth, tileSize));
  entries.push_back(Long(kTileLength, tileSize));
  entries.push_back(Offsets(kTileOffsets, offsets, big));
  // Byte counts fit LONG whenever a tile does; GDAL writes them so in BigTIFF too.
  const uint64_t largest = level.TileBytes.empty() ? 0 : *std::max_element(level.TileBytes.begin(), level.TileBytes.end());
  entries.push_back(Offsets(kTileByteCounts, level.TileBytes, big && largest > kClassicLimit));
  entries.push_back(Shorts(kSampleFormat, {kUnsigned, kUnsigned, kUnsigned}));
  if (index == 0) AddMetadata(entries, metadata);
  if (metadata.GdalNoData) entries.push_back(Text(kGdalNoData, *metadata.GdalNoData));
  std::stable_sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) { return a.Tag < b.Tag; });
  return entries;
}

// Header and directories with the tile data starting at dataStart.
std::vector<uint8_t> Encode(const std::vector<TCogLevel>& levels, uint32_t tileSize, const TImageMetadata& metadata,
                            bool big, uint64_t dataStart) {
  // Tile offsets: the smallest overview's tiles first, the full picture's last.
  std::vector<std::vector<uint64_t>> offsets(levels.size());
  uint64_t at = dataStart;
  for (size_t i = levels.size(); i-- > 0;)
    for (uint64_t bytes : levels[i].TileBytes) {
      offsets[i].push_back(at + kCogTileLeader);
      at += kCogTileLeader + bytes + kCogTileTrailer;
    }

  const int offsetBytes = big ? 8 : 4;
  const size_t inlineBytes = big ? 8 : 4;
  std::vector<uint8_t> out;
  out.push_back('I');
  out.push_back('I');
  if (big) {
    PutLe(out, 43, 2);
    PutLe(out, 8, 2);  // offset size
    PutLe(out, 0, 2);
  } else {
    PutLe(out, 42, 2);
  }
  size_t linkAt = out.size();  // where the offset of the next directory goes
  PutLe(out, 0, offsetBytes);
  const std::string structure = kStructure;
  char size[64];
  std::snprintf(size, sizeof size, "GDAL_STRUCTURAL_METADATA_SIZE=%06u bytes\n", unsigned(structure.size()));
  out.insert(out.end(), size, size + std::strlen(size));
  out.insert(out.end(), structure.begin(), structure.end());

  for (size_t i = 0; i < levels.size(); ++i) {
    const std::vector<TEntry> entries = LevelEntries(levels[i], i, tileSize, offsets[i], metadata, big);
    if (out.size() % 2) out.push_back(0);  // directories start on a word boundary
    PutLeAt(out, linkAt, out.size(), offsetBytes);
    PutLe(out, entries.size(), big ? 8 : 2);
    std::vector<std::pair<size_t, const TEntry*>> outOfLine;  // value field position, entry
    for (const TEntry& entry : entries) {
      PutLe(out, entry.Tag, 2);
      PutLe(out, entry.Type, 2);
      PutLe(out, entry.Count, offsetBytes);
      const size_t field = out.size();
      if (entry.Value.size() <= inlineBytes) {
        out.insert(out.end(), entry.Value.begin(), entry.Value.end());
        out.resize(field + inlineBytes, 0);
      } else {
        PutLe(out, 0, offsetBytes);
        outOfLine.emplace_back(field, &entry);
      }
    }
    linkAt = out.size();
    PutLe(out, 0, offsetBytes);  // last directory: no next one
    for (const auto& [field, entry] : outOfLine) {
      if (out.size() % 2) out.push_back(0);
      PutLeAt(out, field, out.size(), offsetBytes);
      out.insert(out.end(), entry->Value.begin(), entry->Value.end());
    }
  }
  if (out.size() % 2) out.push_back(0);
  return out;
}
}  // namespace

TCogLayout LayOutCog(const std::vector<TCogLevel>& levels, uint32_t tileSize, const TImageMetadata& metadata) {
  uint64_t data = 0;
  for (const TCogLevel& level : levels)
    for (uint64_t bytes : level.TileBytes) data += kCogTileLeader + bytes + kCogTileTrailer;
  TCogLayout layout;
  // The front's size depends on the offsets' width only, not on their values: lay it out once
  // to learn where the data starts, then again with the real offsets.
  for (bool big : {false, true}) {
    const size_t frontSize = Encode(levels, tileSize, metadata, big, 0).size();
    if (!big && frontSize + data > kClassicLimit) continue;
    layout.Big = big;
    layout.Front = Encode(levels, tileSize, metadata, big, frontSize);
    break;
  }
  return layout;
}
