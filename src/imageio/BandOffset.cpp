#include "BandOffset.h"

#include <charconv>

#include "XmlTree.h"

namespace {
// The first offset element for the band in document order, walked without recursion.
pugi::xml_node FindOffset(const pugi::xml_document& document, std::string_view bandId) {
  for (pugi::xml_node node = document.document_element(); node;) {
    const std::string_view name = XmlLocalName(node.name());
    if (node.type() == pugi::node_element && (name == "BOA_ADD_OFFSET" || name == "RADIO_ADD_OFFSET"))
      for (const pugi::xml_attribute& a : node.attributes())
        if (XmlLocalName(a.name()) == "band_id") {
          if (XmlDecoded(a.value()) == bandId) return node;
          break;
        }
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node && !node.next_sibling()) node = node.parent();
    if (node) node = node.next_sibling();
  }
  return {};
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
  pugi::xml_document document;
  result.Read = ReadXml(xml, document);
  if (result.Read != TXmlRead::Read) return result;
  result.Readable = true;
  const pugi::xml_node e = FindOffset(document, std::to_string(bandId));
  if (!e) return result;
  const std::string text = XmlText(e);
  const std::string_view trimmed = Trim(text);
  int value = 0;
  const auto r = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
  if (r.ec == std::errc() && r.ptr == trimmed.data() + trimmed.size() && value > -65536 && value < 65536) result.Offset = value;
  return result;
}
