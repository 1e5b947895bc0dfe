// Small Sentinel-2 products for tests: .SAFE trees laid out as ESA ships them, holding copies
// of generated bands, and zips of them written entry by entry (stored, so that a test can set
// any header field, the sizes a hostile zip claims included).
#pragma once
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace producttrees {
namespace fs = std::filesystem;

inline std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void CopyWritable(const fs::path& from, const fs::path& to) {
  fs::create_directories(to.parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

struct TProduct {
  fs::path Safe, Granule, ImgData;
};

constexpr const char* kStem = "T33UUP_20250101T101021_";

// L1C: IMG_DATA holds <stem>B02.jp2 ... B08.jp2, copied from a folder of generated bands.
inline TProduct MakeL1c(const fs::path& parent, const fs::path& bands) {
  TProduct p;
  p.Safe = parent / "S2B_MSIL1C_20250101T101021_N0511_R022_T33UUP_20250101T120000.SAFE";
  p.Granule = p.Safe / "GRANULE" / "L1C_T33UUP_A040000_20250101T101021";
  p.ImgData = p.Granule / "IMG_DATA";
  for (const char* band : {"B02", "B03", "B04", "B08"})
    CopyWritable(bands / (std::string(kStem) + band + ".jp2"), p.ImgData / (std::string(kStem) + band + ".jp2"));
  WriteBytes(p.Safe / "MTD_MSIL1C.xml", "<?xml version=\"1.0\"?>\n<n1:Level-1C_User_Product/>\n");
  WriteBytes(p.Granule / "MTD_TL.xml", "<?xml version=\"1.0\"?>\n<n1:Level-1C_Tile_ID/>\n");
  return p;
}

// L2A: IMG_DATA/R<m>m/<stem>B02_<m>m.jp2 ... for each resolution given, from the generated
// bands of the matching folder (B08 at 10 m; at 20 m and 60 m the B08 file stands in for B8A).
// metadata: the real MTD_MSIL2A.xml to copy, or empty for a stand-in.
inline TProduct MakeL2a(const fs::path& parent, const std::vector<std::pair<int, fs::path>>& resolutions,
                        const fs::path& metadata = {}) {
  TProduct p;
  p.Safe = parent / "S2A_MSIL2A_20250101T101021_N0400_R023_T33UUP_20250101T164454.SAFE";
  p.Granule = p.Safe / "GRANULE" / "L2A_T33UUP_A038058_20250101T101021";
  p.ImgData = p.Granule / "IMG_DATA";
  for (const auto& [metres, bands] : resolutions) {
    const std::string m = "_" + std::to_string(metres) + "m";
    const fs::path folder = p.ImgData / ("R" + std::to_string(metres) + "m");
    for (const char* band : {"B02", "B03", "B04"})
      CopyWritable(bands / (std::string(kStem) + band + ".jp2"), folder / (std::string(kStem) + band + m + ".jp2"));
    CopyWritable(bands / (std::string(kStem) + "B08.jp2"),
                 folder / (std::string(kStem) + (metres == 10 ? "B08" : "B8A") + m + ".jp2"));
  }
  if (!metadata.empty() && fs::exists(metadata)) CopyWritable(metadata, p.Safe / "MTD_MSIL2A.xml");
  else WriteBytes(p.Safe / "MTD_MSIL2A.xml", "<?xml version=\"1.0\"?>\n<n1:Level-2A_User_Product/>\n");
  return p;
}

// --- Zips, written by hand --------------------------------------------------------------------

struct TZipEntry {
  std::string Name;  // as stored: '/' between folders, a trailing '/' for a folder
  std::string Data;
  uint64_t DeclaredSize = UINT64_MAX;  // the uncompressed size the headers claim; default: the data's
};

inline uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// Every entry stored (method 0); one disk, no zip64, no comments.
inline std::string ZipBytes(const std::vector<TZipEntry>& entries) {
  std::string out, central;
  for (const TZipEntry& e : entries) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t crc = Crc32(e.Data);
    const uint32_t size = static_cast<uint32_t>(e.Data.size());
    const uint32_t declared = e.DeclaredSize == UINT64_MAX ? size : static_cast<uint32_t>(e.DeclaredSize);
    const auto common = [&](std::string& h) {
      Put16(h, 20);  // version needed
      Put16(h, 0x0800);  // names in UTF-8
      Put16(h, 0);   // stored
      Put16(h, 0);   // time
      Put16(h, 0x21);  // 1980-01-01
      Put32(h, crc);
      Put32(h, size);
      Put32(h, declared);
      Put16(h, static_cast<uint32_t>(e.Name.size()));
      Put16(h, 0);  // extra
    };
    Put32(out, 0x04034b50);
    common(out);
    out += e.Name;
    out += e.Data;
    Put32(central, 0x02014b50);
    Put16(central, 20);  // made by
    common(central);
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, 0);  // external attributes
    Put32(central, offset);
    central += e.Name;
  }
  const uint32_t centralOffset = static_cast<uint32_t>(out.size());
  out += central;
  // More entries than 16 bits count: the zip64 end record and its locator carry the count.
  const bool zip64 = entries.size() >= 0xFFFF;
  if (zip64) {
    const uint32_t record = static_cast<uint32_t>(out.size());
    Put32(out, 0x06064b50);
    Put32(out, 44), Put32(out, 0);  // the record's size after this field, 64 bits
    Put16(out, 45), Put16(out, 45);
    Put32(out, 0), Put32(out, 0);
    for (int k = 0; k < 2; ++k) Put32(out, static_cast<uint32_t>(entries.size())), Put32(out, 0);
    Put32(out, static_cast<uint32_t>(central.size())), Put32(out, 0);
    Put32(out, centralOffset), Put32(out, 0);
    Put32(out, 0x07064b50);
    Put32(out, 0);
    Put32(out, record), Put32(out, 0);
    Put32(out, 1);
  }
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, zip64 ? 0xFFFF : static_cast<uint32_t>(entries.size()));
  Put16(out, zip64 ? 0xFFFF : static_cast<uint32_t>(entries.size()));
  Put32(out, static_cast<uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);
  return out;
}

// The entries of a product folder, named from the folder above the .SAFE as zips hold them.
inline std::vector<TZipEntry> EntriesOf(const fs::path& safe) {
  std::vector<TZipEntry> entries;
  const fs::path top = safe.parent_path();
  std::vector<fs::path> files;
  for (const auto& item : fs::recursive_directory_iterator(safe))
    if (item.is_regular_file()) files.push_back(item.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files)
    entries.push_back({fs::relative(file, top).generic_u8string(), ReadBytes(file)});
  return entries;
}
}  // namespace producttrees
