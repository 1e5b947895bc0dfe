#include "Jp2GeoBoxes.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>

#include "XmlTree.h"

namespace {
constexpr uint32_t Type(const char (&t)[5]) {
  return (uint32_t(uint8_t(t[0])) << 24) | (uint32_t(uint8_t(t[1])) << 16) | (uint32_t(uint8_t(t[2])) << 8) |
         uint32_t(uint8_t(t[3]));
}
constexpr uint32_t kSignature = Type("jP  "), kHeader = Type("jp2h"), kImageHeader = Type("ihdr"),
                   kAssociation = Type("asoc"), kLabel = Type("lbl "), kXml = Type("xml "), kUuid = Type("uuid"),
                   kCodestream = Type("jp2c");
const uint8_t kGeoJp2Uuid[16] = {0xb1, 0x4b, 0xf8, 0xbd, 0x08, 0x3d, 0x4b, 0x43,
                                 0xa5, 0xae, 0x8c, 0xd7, 0xd5, 0xa6, 0xce, 0x03};

uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint64_t Be64(const uint8_t* p) { return (uint64_t(Be32(p)) << 32) | Be32(p + 4); }

struct TBox {
  uint32_t Type = 0;
  size_t Content = 0;  // offset of the content
  size_t Size = 0;     // bytes of content
  size_t Next = 0;     // offset of the box after this one
};

// The box at offset inside [offset, end). False when its header is broken or it claims more
// than its container holds: the walk of that container stops there.
bool ReadBox(const uint8_t* data, size_t offset, size_t end, TBox& box) {
  if (offset > end || end - offset < 8) return false;
  const uint32_t length = Be32(data + offset);
  box.Type = Be32(data + offset + 4);
  uint64_t total;
  size_t header = 8;
  if (length == 1) {
    if (end - offset < 16) return false;
    total = Be64(data + offset + 8);
    header = 16;
  } else if (length == 0) {
    total = end - offset;  // to the end of the file (or of the container)
  } else {
    total = length;
  }
  if (total < header || total > end - offset) return false;
  box.Content = offset + header;
  box.Size = static_cast<size_t>(total) - header;
  box.Next = offset + static_cast<size_t>(total);
  return true;
}

// A label box's text: trailing NULs are padding some writers add.
std::string_view LabelText(const uint8_t* data, const TBox& box) {
  std::string_view text(reinterpret_cast<const char*>(data + box.Content), box.Size);
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  return text;
}

// An association whose first child is a label with this text: the offset of what follows it.
bool LabelledAssociation(const uint8_t* data, const TBox& asoc, std::string_view label, size_t& rest) {
  TBox first;
  if (asoc.Type != kAssociation || !ReadBox(data, asoc.Content, asoc.Content + asoc.Size, first)) return false;
  if (first.Type != kLabel || LabelText(data, first) != label) return false;
  rest = first.Next;
  return true;
}

// asoc { lbl "gml.data", ..., asoc { lbl "gml.root-instance", xml } }: the XML, or empty.
std::string_view GmlRootInstance(const uint8_t* data, const TBox& outer) {
  size_t at;
  if (!LabelledAssociation(data, outer, "gml.data", at)) return {};
  const size_t end = outer.Content + outer.Size;
  TBox inner;
  for (; ReadBox(data, at, end, inner); at = inner.Next) {
    size_t xmlAt;
    if (!LabelledAssociation(data, inner, "gml.root-instance", xmlAt)) continue;
    TBox xml;
    const size_t innerEnd = inner.Content + inner.Size;
    for (; ReadBox(data, xmlAt, innerEnd, xml); xmlAt = xml.Next)
      if (xml.Type == kXml) return std::string_view(reinterpret_cast<const char*>(data + xml.Content), xml.Size);
  }
  return {};
}

bool ParseNumbers(std::string_view text, double* out, size_t count) {
  size_t i = 0;
  const char* p = text.data();
  const char* end = p + text.size();
  for (;;) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == ',')) ++p;
    if (p == end) break;
    if (i == count) return false;
    if (*p == '+') ++p;  // from_chars takes no plus sign
    const auto r = std::from_chars(p, end, out[i]);
    if (r.ec != std::errc() || !std::isfinite(out[i])) return false;
    p = r.ptr;
    ++i;
  }
  return i == count;
}

// A north-up grid from a corner, or nothing when it is not one we can describe.
std::optional<TGridGeoreference> Grid(int epsg, double left, double top, double width, double height) {
  if (!IsUtmWgs84(epsg)) return std::nullopt;
  if (!(width > 0) || !(height > 0) || !std::isfinite(left) || !std::isfinite(top) || !std::isfinite(width) ||
      !std::isfinite(height))
    return std::nullopt;
  TGridGeoreference g;
  g.Epsg = epsg;
  g.Left = left;
  g.Top = top;
  g.PixelWidth = width;
  g.PixelHeight = height;
  // Huge numbers that are finite on their own may not be once combined (the first pixel's
  // centre of a GeoJP2 grid): those are left out too.
  if (!IsFinite(g)) return std::nullopt;
  return g;
}

// A classic TIFF read within its bytes: byte order, and one IFD's entries.
class TTiffReader {
 public:
  TTiffReader(const uint8_t* data, size_t size) : FData(data), FSize(size) {}

  bool Open() {
    if (FSize < 8) return false;
    if (FData[0] == 'I' && FData[1] == 'I') FLittle = true;
    else if (FData[0] == 'M' && FData[1] == 'M') FLittle = false;
    else return false;
    if (U16(2) != 42) return false;  // BigTIFF is not used inside GeoJP2 boxes
    const uint32_t ifd = U32(4);
    if (ifd > FSize || FSize - ifd < 2) return false;
    FCount = U16(ifd);
    FEntries = ifd + 2;
    return FCount <= (FSize - FEntries) / 12;
  }

  // The values of a tag of the given type (3 SHORT, 12 DOUBLE), at least minCount of them.
  template <typename T>
  bool Values(uint16_t tag, uint16_t type, size_t minCount, std::vector<T>& out) const {
    const size_t unit = type == 3 ? 2 : 8;
    for (size_t i = 0; i < FCount; ++i) {
      const size_t e = FEntries + i * 12;
      if (U16(e) != tag) continue;
      if (U16(e + 2) != type) return false;
      const uint32_t count = U32(e + 4);
      if (count < minCount || count > FSize / unit) return false;
      const size_t bytes = count * unit;
      size_t at = e + 8;
      if (bytes > 4) {
        at = U32(e + 8);
        if (at > FSize || FSize - at < bytes) return false;
      }
      out.resize(count);
      for (size_t k = 0; k < count; ++k) {
        if (unit == 2) {
          out[k] = static_cast<T>(U16(at + 2 * k));
        } else {
          const uint64_t bits = U64(at + 8 * k);
          double d;
          std::memcpy(&d, &bits, sizeof d);
          out[k] = static_cast<T>(d);
        }
      }
      return true;
    }
    return false;
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  bool FLittle = true;
  size_t FCount = 0, FEntries = 0;

  uint16_t U16(size_t at) const {
    return FLittle ? uint16_t(FData[at] | (FData[at + 1] << 8)) : uint16_t((FData[at] << 8) | FData[at + 1]);
  }
  uint32_t U32(size_t at) const {
    return FLittle ? (uint32_t(U16(at + 2)) << 16) | U16(at) : (uint32_t(U16(at)) << 16) | U16(at + 2);
  }
  uint64_t U64(size_t at) const {
    return FLittle ? (uint64_t(U32(at + 4)) << 32) | U32(at) : (uint64_t(U32(at)) << 32) | U32(at + 4);
  }
};
}  // namespace

namespace jp2geo {
std::optional<int> EpsgFromSrsName(std::string_view srs) {
  size_t epsgAt = std::string_view::npos;
  for (size_t i = 0; i + 4 <= srs.size(); ++i) {
    bool match = true;
    for (size_t k = 0; k < 4 && match; ++k) match = (srs[i + k] & ~0x20) == "EPSG"[k];
    if (match) epsgAt = i;
  }
  if (epsgAt == std::string_view::npos) return std::nullopt;
  const size_t cut = srs.find_last_of(":/");
  if (cut == std::string_view::npos || cut < epsgAt) return std::nullopt;
  const std::string_view digits = srs.substr(cut + 1);
  if (digits.empty() || digits.size() > 9) return std::nullopt;
  int code = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    code = code * 10 + (c - '0');
  }
  return code;
}

std::optional<TGridGeoreference> GridFromGml(std::string_view xml) {
  const std::optional<TXmlElement> root = ParseXml(xml);
  if (!root) return std::nullopt;
  const TXmlElement* grid = root->LocalName() == "RectifiedGrid" ? &*root : root->Find("RectifiedGrid");
  if (!grid) return std::nullopt;
  const TXmlElement* origin = grid->Child("origin");
  const TXmlElement* point = origin ? origin->Child("Point") : nullptr;
  const TXmlElement* pos = point ? point->Child("pos") : nullptr;
  if (!pos) return std::nullopt;
  const std::string* srs = point->Attribute("srsName");
  if (!srs) srs = pos->Attribute("srsName");
  if (!srs) srs = grid->Attribute("srsName");
  const std::optional<int> epsg = srs ? EpsgFromSrsName(*srs) : std::nullopt;
  if (!epsg) return std::nullopt;

  double o[2], v[2][2];
  if (!ParseNumbers(pos->Text, o, 2)) return std::nullopt;
  size_t vectors = 0;
  for (const TXmlElement& c : grid->Children) {
    if (c.LocalName() != "offsetVector") continue;
    if (vectors == 2 || !ParseNumbers(c.Text, v[vectors], 2)) return std::nullopt;
    ++vectors;
  }
  // Columns run east and rows south, with no rotation; anything else is not a grid we write.
  if (vectors != 2 || v[0][1] != 0 || v[1][0] != 0 || !(v[0][0] > 0) || !(v[1][1] < 0)) return std::nullopt;
  // The origin is the centre of the first pixel.
  return Grid(*epsg, o[0] - v[0][0] / 2, o[1] - v[1][1] / 2, v[0][0], -v[1][1]);
}

std::optional<TGridGeoreference> GridFromGeoTiff(const uint8_t* data, size_t size) {
  TTiffReader tiff(data, size);
  if (!tiff.Open()) return std::nullopt;
  std::vector<uint16_t> keys;
  if (!tiff.Values<uint16_t>(34735, 3, 4, keys)) return std::nullopt;
  const size_t keyCount = keys[3];
  if (keys[0] != 1 || keyCount > (keys.size() - 4) / 4) return std::nullopt;
  int model = 0, raster = 1, epsg = 0;
  for (size_t k = 0; k < keyCount; ++k) {
    const uint16_t* key = &keys[4 + 4 * k];
    if (key[1] != 0) continue;  // a value kept in another tag: none of ours is
    if (key[0] == 1024) model = key[3];
    else if (key[0] == 1025) raster = key[3];
    else if (key[0] == 3072) epsg = key[3];
  }
  if ((model != 0 && model != 1) || (raster != 1 && raster != 2)) return std::nullopt;

  double left, top, width, height;
  std::vector<double> scale, tie, matrix;
  if (tiff.Values<double>(33550, 12, 2, scale) && tiff.Values<double>(33922, 12, 6, tie)) {
    width = scale[0];
    height = scale[1];
    left = tie[3] - tie[0] * width;
    top = tie[4] + tie[1] * height;
  } else if (tiff.Values<double>(34264, 12, 16, matrix)) {
    if (matrix[1] != 0 || matrix[4] != 0) return std::nullopt;
    width = matrix[0];
    height = -matrix[5];
    left = matrix[3];
    top = matrix[7];
  } else {
    return std::nullopt;
  }
  // PixelIsPoint puts the tie point on the first pixel's centre.
  if (raster == 2) {
    left -= width / 2;
    top += height / 2;
  }
  return Grid(epsg, left, top, width, height);
}
}  // namespace jp2geo

TJp2Grid ParseJp2Grid(const uint8_t* data, size_t size) {
  TJp2Grid header;
  TBox box;
  if (!data || !ReadBox(data, 0, size, box) || box.Type != kSignature) return header;
  std::optional<TGridGeoreference> geoJp2, gml;
  for (size_t at = box.Next; ReadBox(data, at, size, box); at = box.Next) {
    if (box.Type == kCodestream) break;
    if (box.Type == kHeader) {
      TBox child;
      for (size_t c = box.Content; ReadBox(data, c, box.Content + box.Size, child); c = child.Next) {
        if (child.Type == kImageHeader && child.Size >= 14) {
          header.Height = Be32(data + child.Content);
          header.Width = Be32(data + child.Content + 4);
        }
      }
    } else if (box.Type == kUuid && !geoJp2 && box.Size > 16 && std::memcmp(data + box.Content, kGeoJp2Uuid, 16) == 0) {
      geoJp2 = jp2geo::GridFromGeoTiff(data + box.Content + 16, box.Size - 16);
    } else if (box.Type == kAssociation && !gml) {
      const std::string_view xml = GmlRootInstance(data, box);
      if (!xml.empty()) gml = jp2geo::GridFromGml(xml);
    }
  }
  // GDAL's order: the GeoJP2 box before the GML.
  header.Georeference = geoJp2 ? geoJp2 : gml;
  return header;
}

std::vector<uint8_t> ReadJp2HeaderBoxes(const std::filesystem::path& path) {
  std::vector<uint8_t> bytes;
  std::ifstream file(path, std::ios::binary);
  if (!file) return bytes;
  // Box by box: each header tells how far to read; the codestream box ends the walk.
  for (;;) {
    const size_t at = bytes.size();
    uint8_t head[16];
    file.read(reinterpret_cast<char*>(head), 16);
    const size_t got = static_cast<size_t>(file.gcount());
    if (got < 8) break;
    const uint32_t length = Be32(head);
    uint64_t total = length;
    if (length == 1) total = got == 16 ? Be64(head + 8) : 0;
    if (Be32(head + 4) == kCodestream || length == 0 || total < 8 || total > kJp2HeaderReadLimit - at) break;
    bytes.resize(at + static_cast<size_t>(total));
    const size_t fromHead = total < got ? static_cast<size_t>(total) : got;
    std::memcpy(bytes.data() + at, head, fromHead);
    if (total > got) {
      file.read(reinterpret_cast<char*>(bytes.data() + at + got), static_cast<std::streamsize>(total - got));
      if (static_cast<uint64_t>(file.gcount()) != total - got) {
        bytes.resize(at + got + static_cast<size_t>(file.gcount()));
        break;
      }
    } else {
      // A box shorter than the 16 bytes just read: the rest belongs to the next one.
      file.clear();
      file.seekg(static_cast<std::streamoff>(at + total));
    }
  }
  return bytes;
}

TJp2Grid ReadJp2Grid(const std::filesystem::path& path) {
  const std::vector<uint8_t> bytes = ReadJp2HeaderBoxes(path);
  return ParseJp2Grid(bytes.data(), bytes.size());
}
