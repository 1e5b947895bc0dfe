#include "Jp2GeoBoxes.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "Jp2Boxes.h"
#include "Jp2File.h"
#include "XmlTree.h"

namespace {
constexpr uint32_t kSignature = Jp2BoxType("jP  "), kHeader = Jp2BoxType("jp2h"), kImageHeader = Jp2BoxType("ihdr"),
                   kAssociation = Jp2BoxType("asoc"), kLabel = Jp2BoxType("lbl "), kXml = Jp2BoxType("xml "),
                   kUuid = Jp2BoxType("uuid"), kCodestream = Jp2BoxType("jp2c");
const uint8_t kGeoJp2Uuid[16] = {0xb1, 0x4b, 0xf8, 0xbd, 0x08, 0x3d, 0x4b, 0x43,
                                 0xa5, 0xae, 0x8c, 0xd7, 0xd5, 0xa6, 0xce, 0x03};

uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

// A label box's text: trailing NULs are padding some writers add.
std::string_view LabelText(const uint8_t* data, const TJp2Box& box) {
  std::string_view text(reinterpret_cast<const char*>(data + box.Content), static_cast<size_t>(box.Size()));
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  return text;
}

// An association whose first child is a label with this text: the offset of what follows it.
bool LabelledAssociation(const uint8_t* data, const TJp2Box& asoc, std::string_view label, uint64_t& rest) {
  TJp2Box first;
  if (asoc.Type != kAssociation || !ReadJp2Box(data, asoc.Content, asoc.End, first)) return false;
  if (first.Type != kLabel || LabelText(data, first) != label) return false;
  rest = first.End;
  return true;
}

// asoc { lbl "gml.data", ..., asoc { lbl "gml.root-instance", xml } }: the XML, or empty.
std::string_view GmlRootInstance(const uint8_t* data, const TJp2Box& outer) {
  uint64_t at;
  if (!LabelledAssociation(data, outer, "gml.data", at)) return {};
  TJp2Box inner;
  for (; ReadJp2Box(data, at, outer.End, inner); at = inner.End) {
    uint64_t xmlAt;
    if (!LabelledAssociation(data, inner, "gml.root-instance", xmlAt)) continue;
    TJp2Box xml;
    for (; ReadJp2Box(data, xmlAt, inner.End, xml); xmlAt = xml.End)
      if (xml.Type == kXml)
        return std::string_view(reinterpret_cast<const char*>(data + xml.Content), static_cast<size_t>(xml.Size()));
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
  TJp2Box box;
  if (!ReadJp2Box(data, 0, size, box) || box.Type != kSignature) return header;
  std::optional<TGridGeoreference> geoJp2, gml;
  for (uint64_t at = box.End; ReadJp2Box(data, at, size, box); at = box.End) {
    if (box.Type == kCodestream) break;
    if (box.Type == kHeader) {
      TJp2Box child;
      for (uint64_t c = box.Content; ReadJp2Box(data, c, box.End, child); c = child.End) {
        if (child.Type == kImageHeader && child.Size() >= 14) {
          header.Height = Be32(data + child.Content);
          header.Width = Be32(data + child.Content + 4);
        }
      }
    } else if (box.Type == kUuid && !geoJp2 && box.Size() > 16 && std::memcmp(data + box.Content, kGeoJp2Uuid, 16) == 0) {
      geoJp2 = jp2geo::GridFromGeoTiff(data + box.Content + 16, static_cast<size_t>(box.Size() - 16));
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
  TJp2File file;
  if (!file.Open(path)) return {};
  return ReadJp2Boxes(file).Head;
}

TJp2Grid ReadJp2Grid(const std::filesystem::path& path) {
  const std::vector<uint8_t> bytes = ReadJp2HeaderBoxes(path);
  return ParseJp2Grid(bytes.data(), bytes.size());
}
