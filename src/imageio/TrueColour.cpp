#include "TrueColour.h"

#include <charconv>

#include "XmlTree.h"

namespace {
const TXmlElement* FindOffset(const TXmlElement& e, std::string_view bandId) {
  for (const TXmlElement& c : e.Children) {
    const std::string_view name = c.LocalName();
    if (name == "BOA_ADD_OFFSET" || name == "RADIO_ADD_OFFSET") {
      const std::string* id = c.Attribute("band_id");
      if (id && *id == bandId) return &c;
    }
    if (const TXmlElement* below = FindOffset(c, bandId)) return below;
  }
  return nullptr;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}
}  // namespace

std::optional<int> Sentinel2BandId(std::string_view fileName) {
  const size_t slash = fileName.find_last_of("/\\");
  if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
  std::optional<int> id;
  for (size_t i = 0; i + 3 <= fileName.size(); ++i) {
    if ((fileName[i] & ~0x20) != 'B') continue;
    // The code must stand on its own: "B04" in "_B04_" or "B04." but not inside a longer word.
    if (i > 0 && ((fileName[i - 1] >= 'A' && fileName[i - 1] <= 'Z') || (fileName[i - 1] >= 'a' && fileName[i - 1] <= 'z') ||
                  (fileName[i - 1] >= '0' && fileName[i - 1] <= '9')))
      continue;
    const char a = fileName[i + 1], b = fileName[i + 2];
    if (i + 3 < fileName.size() && fileName[i + 3] >= '0' && fileName[i + 3] <= '9') continue;
    if (a == '8' && (b & ~0x20) == 'A') id = 8;
    else if (a == '0' && b >= '1' && b <= '9') id = b - '1' + (b == '9' ? 1 : 0);
    else if (a == '1' && b >= '0' && b <= '2') id = 10 + (b - '0');
  }
  return id;
}

TBandOffset BandOffsetFromMetadata(std::string_view xml, int bandId) {
  TBandOffset result;
  const std::optional<TXmlElement> root = ParseXml(xml);
  if (!root) return result;
  result.Readable = true;
  const std::string id = std::to_string(bandId);
  const TXmlElement* e = FindOffset(*root, id);
  if (!e) return result;
  const std::string_view text = Trim(e->Text);
  int value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec == std::errc() && r.ptr == text.data() + text.size() && value > -65536 && value < 65536) result.Offset = value;
  return result;
}
