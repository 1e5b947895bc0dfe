// Reading a JPEG 2000 file's headers. The image and tile size come from the codestream's SIZ
// segment, read here before OpenJPEG sees the file, so that a header claiming an absurd size
// is refused before any library allocates for it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Jp2Header.h"
#include "Jp2Boxes.h"
#include "Jp2Codec.h"
#include "Jp2File.h"
#include "Jp2GeoBoxes.h"
#include "SystemMemory.h"

namespace {
uint32_t Be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
uint64_t Be64(const uint8_t* p) { return uint64_t{Be32(p)} << 32 | Be32(p + 4); }
// A box before the codestream that claims more than the file holds hides where the boxes
// after it begin. The codestream box is looked for behind its start, by its type followed by
// the codestream's first two markers, within as many bytes as a header box may take: a damaged
// metadata box then costs the metadata, not the picture.
constexpr uint64_t kBrokenBoxSearch = 4u << 20;

bool FindCodestreamBehind(TJp2File& file, uint64_t from, uint64_t& start, uint64_t& end) {
  static const uint8_t kPattern[4] = {0xFF, 0x4F, 0xFF, 0x51};  // SOC, then SIZ
  const uint64_t limit = std::min(file.Size(), from + kBrokenBoxSearch);
  std::vector<uint8_t> bytes(limit > from ? static_cast<size_t>(limit - from) : 0);
  if (bytes.size() < 16 || !file.ReadAt(from, bytes.data(), bytes.size())) return false;
  // The box's type sits 4 bytes into its header; its content follows 8 or (with a 64-bit
  // length) 16 bytes after the header's start.
  for (size_t at = 0; at + 8 <= bytes.size(); ++at) {
    if (Be32(&bytes[at + 4]) != Jp2BoxType("jp2c")) continue;
    const uint32_t length = Be32(&bytes[at]);
    const size_t content = at + (length == 1 ? 16 : 8);
    if (content + 4 > bytes.size() || std::memcmp(&bytes[content], kPattern, 4) != 0) continue;
    uint64_t total = length == 1 ? Be64(&bytes[at + 8]) : length == 0 ? file.Size() - (from + at) : length;
    if (total < content - at || total > file.Size() - (from + at)) total = file.Size() - (from + at);
    start = from + content;
    end = from + at + total;
    return true;
  }
  return false;
}

bool IsRawCodestream(TJp2File& file) {
  static const uint8_t kCodestream[4] = {0xFF, 0x4F, 0xFF, 0x51};  // SOC, then SIZ
  uint8_t head[4];
  return file.ReadAt(0, head, 4) && std::memcmp(head, kCodestream, 4) == 0;
}

bool IsJp2(TJp2File& file) {
  static const uint8_t kSignature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  uint8_t head[12];
  return file.ReadAt(0, head, 12) && std::memcmp(head, kSignature, 12) == 0;
}

// Where the codestream lies in a JP2 file: the contents of its codestream box. Notes the JP2
// header boxes that change what the samples mean.
bool LocateCodestream(TJp2File& file, const TJp2Boxes& boxes, TJp2Header& header, uint64_t& start, uint64_t& end) {
  for (const uint32_t type : boxes.HeaderChildren)
    if (type == Jp2BoxType("pclr") || type == Jp2BoxType("cmap") || type == Jp2BoxType("cdef")) header.Palette = true;
  if (boxes.HeaderBroken) return false;
  if (boxes.Codestream) {
    start = boxes.Stop.Content;
    end = boxes.Stop.End;
    return true;
  }
  // Only a box that runs past the end, behind the header box: that one's palette or channel
  // boxes change what the samples mean, so it must have been read whole.
  const bool pastTheEnd = boxes.Stop.Claimed > file.Size() - boxes.StopAt;
  if (!boxes.HeaderBox || boxes.Stop.Type == Jp2BoxType("jp2h") || !pastTheEnd) return false;
  header.BrokenBoxes = FindCodestreamBehind(file, boxes.StopAt + 8, start, end);
  return header.BrokenBoxes;
}

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// The SIZ segment: sizes, tiling and components. Anything inconsistent is left for OpenJPEG to
// refuse in its own words.
bool ReadSiz(TJp2File& file, uint64_t start, uint64_t end, TJp2Header& header, uint32_t (&grid)[8],
             std::vector<uint8_t>& components) {
  uint8_t siz[42];
  if (end - start < sizeof siz || !file.ReadAt(start, siz, sizeof siz)) return false;
  if (Be16(siz) != 0xFF4F || Be16(siz + 2) != 0xFF51) return false;
  const uint32_t count = Be16(siz + 40);
  if (count == 0 || Be16(siz + 4) != 38 + 3 * count) return false;
  for (int i = 0; i < 8; ++i) grid[i] = Be32(siz + 8 + 4 * i);
  const auto [xsiz, ysiz, xosiz, yosiz, xtsiz, ytsiz, xtosiz, ytosiz] = grid;
  if (xsiz <= xosiz || ysiz <= yosiz || xtsiz == 0 || ytsiz == 0 || xtosiz > xosiz || ytosiz > yosiz ||
      uint64_t{xtosiz} + xtsiz <= xosiz || uint64_t{ytosiz} + ytsiz <= yosiz)
    return false;
  components.resize(3 * size_t{count});
  if (end - start - sizeof siz < components.size() || !file.ReadAt(start + sizeof siz, components.data(), components.size()))
    return false;
  header.Width = xsiz - xosiz;
  header.Height = ysiz - yosiz;
  header.X0 = xosiz;
  header.Y0 = yosiz;
  header.Components = count;
  header.Precision = (components[0] & 0x7F) + 1u;
  header.TileWidth = xtsiz;
  header.TileHeight = ytsiz;
  header.TileX0 = xtosiz;
  header.TileY0 = ytosiz;
  header.TilesAcross = static_cast<uint32_t>(CeilDiv(uint64_t{xsiz} - xtosiz, xtsiz));
  header.TilesDown = static_cast<uint32_t>(CeilDiv(uint64_t{ysiz} - ytosiz, ytsiz));
  for (uint32_t c = 0; c < count; ++c) {
    const uint8_t ssiz = components[3 * c], dx = components[3 * c + 1], dy = components[3 * c + 2];
    if (dx == 0 || dy == 0 || (ssiz & 0x7F) >= 38) return false;
    header.Signed = header.Signed || (ssiz & 0x80) != 0;
    header.Subsampled = header.Subsampled || dx != 1 || dy != 1;
  }
  // The sample positions a component holds are the multiples of its step on the grid.
  header.ComponentWidth = static_cast<uint32_t>(CeilDiv(xsiz, components[1]) - CeilDiv(xosiz, components[1]));
  header.ComponentHeight = static_cast<uint32_t>(CeilDiv(ysiz, components[2]) - CeilDiv(yosiz, components[2]));
  header.ComponentStepX = components[1];
  header.ComponentStepY = components[2];
  return true;
}

// The least a codestream with this header can take: every tile at least one tile-part (SOT and
// SOD markers, 14 bytes), and every precinct of the highest resolution of every component at
// least one byte of packet header; no precinct spans more than 2^15 samples a side.
double LeastCodestreamBytes(const TJp2Header& header, const uint32_t (&grid)[8], const std::vector<uint8_t>& components) {
  double bytes = 14.0 * header.TilesAcross * header.TilesDown;
  for (uint32_t c = 0; c < header.Components; ++c) {
    const uint32_t dx = components[3 * c + 1], dy = components[3 * c + 2];
    const uint64_t width = CeilDiv(grid[0], dx) - CeilDiv(grid[2], dx);
    const uint64_t height = CeilDiv(grid[1], dy) - CeilDiv(grid[3], dy);
    bytes += static_cast<double>(CeilDiv(width, 1u << 15)) * static_cast<double>(CeilDiv(height, 1u << 15));
  }
  return bytes;
}
}  // namespace

bool TJp2Header::IsPlainBand() const {
  return Components == 1 && Precision >= 1 && Precision <= 16 && !Signed && !Subsampled && !Palette;
}

// Sizes at a resolution follow the grid: the picture's first and last sample positions are
// divided, not its size.
uint32_t TJp2Header::WidthAt(unsigned reduce) const {
  const uint64_t step = uint64_t{1} << std::min(reduce, 32u);
  return static_cast<uint32_t>(CeilDiv(uint64_t{X0} + Width, step) - CeilDiv(X0, step));
}

uint32_t TJp2Header::HeightAt(unsigned reduce) const {
  const uint64_t step = uint64_t{1} << std::min(reduce, 32u);
  return static_cast<uint32_t>(CeilDiv(uint64_t{Y0} + Height, step) - CeilDiv(Y0, step));
}

TJp2HeaderStatus ReadJp2Header(const std::filesystem::path& path, TJp2Header& header, std::string& error) {
  header = TJp2Header{};
  TJp2File file;
  if (!file.Open(path)) {
    error = "cannot open the file";
    return TJp2HeaderStatus::NotOpened;
  }
  // The boxes are walked once: the codestream's place and the georeferencing both come from it.
  uint64_t start = 0, end = file.Size();
  bool located = IsRawCodestream(file);
  if (located) {
    header.Container = TJp2Container::Codestream;
  } else if (IsJp2(file)) {
    const TJp2Boxes boxes = ReadJp2Boxes(file);
    located = LocateCodestream(file, boxes, header, start, end);
    header.Georeference = ParseJp2Grid(boxes.Head.data(), boxes.Head.size()).Georeference;
  }
  uint32_t grid[8];
  std::vector<uint8_t> components;
  if (!located || !ReadSiz(file, start, end, header, grid, components)) {
    error = "not a JPEG 2000 file this reader follows";
    return TJp2HeaderStatus::NotOpened;
  }
  const std::string claimed = std::to_string(header.Width) + " x " + std::to_string(header.Height) + " pixels";
  if (LeastCodestreamBytes(header, grid, components) > static_cast<double>(end - start)) {
    error = "the header claims " + claimed + ", more than its " + std::to_string(end - start) + " bytes can hold";
    return TJp2HeaderStatus::Impossible;
  }
  // Even one 16-bit sample per pixel must fit this machine.
  const uint64_t memory = PhysicalMemoryBytes();
  if (memory && 2.0 * header.Width * header.Height > static_cast<double>(memory)) {
    error = "the header claims " + claimed + ", more than this machine's memory can hold";
    return TJp2HeaderStatus::Impossible;
  }

  header.CodestreamStart = start;
  header.CodestreamEnd = end;

  // The coding style, in OpenJPEG's reading, which also checks what the sizes left unchecked.
  TJp2Codec codec;
  if (!codec.Open(file, header)) {
    error = codec.Error();
    return TJp2HeaderStatus::NotOpened;
  }
  const opj_image_t* image = codec.Image();
  if (image->numcomps != header.Components || image->x1 - image->x0 != header.Width ||
      image->y1 - image->y0 != header.Height || image->comps[0].w != header.ComponentWidth ||
      image->comps[0].h != header.ComponentHeight) {
    error = "the library reads another image size";
    return TJp2HeaderStatus::NotOpened;
  }
  if (opj_codestream_info_v2_t* info = opj_get_cstr_info(codec.Codec())) {
    if (info->m_default_tile_info.tccp_info) header.Resolutions = info->m_default_tile_info.tccp_info[0].numresolutions;
    opj_destroy_cstr_info(&info);
  }
  if (header.Resolutions == 0) {
    error = "no coding style";
    return TJp2HeaderStatus::NotOpened;
  }
  return TJp2HeaderStatus::Read;
}
