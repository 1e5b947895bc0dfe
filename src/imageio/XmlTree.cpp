#include "XmlTree.h"

#include <cstdint>

namespace {
std::string_view LocalPart(std::string_view name) {
  const size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class TReader {
 public:
  explicit TReader(std::string_view text) : FText(text) {}

  std::optional<TXmlElement> Document() {
    if (FText.substr(0, 3) == "\xEF\xBB\xBF") FPos = 3;
    if (!SkipMisc()) return std::nullopt;
    if (!At("<")) return std::nullopt;
    TXmlElement root;
    if (!Element(root, 1)) return std::nullopt;
    // Whatever follows the root (padding, NULs of a fixed-size box) is not looked at.
    return root;
  }

 private:
  std::string_view FText;
  size_t FPos = 0;
  size_t FElements = 0;

  bool At(std::string_view s) const { return FText.substr(FPos, s.size()) == s; }
  bool End() const { return FPos >= FText.size(); }

  bool SkipPast(std::string_view terminator) {
    const size_t at = FText.find(terminator, FPos);
    if (at == std::string_view::npos) return false;
    FPos = at + terminator.size();
    return true;
  }

  // Declarations, comments, processing instructions and a DOCTYPE before the root.
  bool SkipMisc() {
    for (;;) {
      while (!End() && IsSpace(FText[FPos])) ++FPos;
      if (At("<?")) {
        if (!SkipPast("?>")) return false;
      } else if (At("<!--")) {
        if (!SkipPast("-->")) return false;
      } else if (At("<!DOCTYPE")) {
        // An internal subset may declare entities; documents that need them are not ours.
        const size_t close = FText.find('>', FPos);
        const size_t bracket = FText.find('[', FPos);
        if (close == std::string_view::npos || (bracket != std::string_view::npos && bracket < close)) return false;
        FPos = close + 1;
      } else {
        return true;
      }
    }
  }

  bool Name(std::string& out) {
    const size_t start = FPos;
    while (!End()) {
      const char c = FText[FPos];
      if (IsSpace(c) || c == '/' || c == '>' || c == '=' || c == '<' || c == '"' || c == '\'') break;
      ++FPos;
    }
    if (FPos == start) return false;
    out.assign(FText.substr(start, FPos - start));
    return true;
  }

  // Character data up to stop, with the five predefined entities and character references.
  bool Chars(char stop, std::string& out) {
    while (!End() && FText[FPos] != stop) {
      const char c = FText[FPos];
      if (c == '<' && stop == '"') return false;
      if (c == '<' && stop == '\'') return false;
      if (c != '&') {
        out += c;
        ++FPos;
        continue;
      }
      const size_t semi = FText.find(';', FPos);
      if (semi == std::string_view::npos || semi - FPos > 12) return false;
      const std::string_view ref = FText.substr(FPos + 1, semi - FPos - 1);
      FPos = semi + 1;
      if (ref == "lt") out += '<';
      else if (ref == "gt") out += '>';
      else if (ref == "amp") out += '&';
      else if (ref == "quot") out += '"';
      else if (ref == "apos") out += '\'';
      else if (ref.size() > 1 && ref[0] == '#') {
        const bool hex = ref[1] == 'x';
        uint32_t cp = 0;
        const std::string_view digits = ref.substr(hex ? 2 : 1);
        if (digits.empty()) return false;
        for (char d : digits) {
          uint32_t v;
          if (d >= '0' && d <= '9') v = d - '0';
          else if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
          else if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
          else return false;
          cp = cp * (hex ? 16 : 10) + v;
          if (cp > 0x10FFFF) return false;
        }
        if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        AppendUtf8(out, cp);
      } else {
        return false;  // a named entity from a DTD we do not read
      }
    }
    return true;
  }

  // From '<' of a start tag through its end tag.
  bool Element(TXmlElement& e, size_t depth) {
    if (depth > kXmlMaxDepth || ++FElements > kXmlMaxElements) return false;
    ++FPos;  // '<'
    if (!Name(e.Name)) return false;
    for (;;) {
      while (!End() && IsSpace(FText[FPos])) ++FPos;
      if (End()) return false;
      if (At("/>")) {
        FPos += 2;
        return true;
      }
      if (FText[FPos] == '>') {
        ++FPos;
        break;
      }
      std::string name, value;
      if (!Name(name)) return false;
      while (!End() && IsSpace(FText[FPos])) ++FPos;
      if (End() || FText[FPos] != '=') return false;
      ++FPos;
      while (!End() && IsSpace(FText[FPos])) ++FPos;
      if (End() || (FText[FPos] != '"' && FText[FPos] != '\'')) return false;
      const char quote = FText[FPos++];
      if (!Chars(quote, value) || End()) return false;
      ++FPos;
      e.Attributes.emplace_back(std::move(name), std::move(value));
    }
    // Content.
    for (;;) {
      if (!Chars('<', e.Text) || End()) return false;
      if (At("</")) {
        FPos += 2;
        std::string name;
        if (!Name(name) || name != e.Name) return false;
        while (!End() && IsSpace(FText[FPos])) ++FPos;
        if (End() || FText[FPos] != '>') return false;
        ++FPos;
        return true;
      }
      if (At("<!--")) {
        if (!SkipPast("-->")) return false;
      } else if (At("<![CDATA[")) {
        const size_t start = FPos + 9;
        if (!SkipPast("]]>")) return false;
        e.Text.append(FText.substr(start, FPos - 3 - start));
      } else if (At("<?")) {
        if (!SkipPast("?>")) return false;
      } else if (At("<!")) {
        return false;
      } else {
        e.Children.emplace_back();
        if (!Element(e.Children.back(), depth + 1)) return false;
      }
    }
  }
};
}  // namespace

std::string_view TXmlElement::LocalName() const { return LocalPart(Name); }

const std::string* TXmlElement::Attribute(std::string_view localName) const {
  for (const auto& a : Attributes)
    if (LocalPart(a.first) == localName) return &a.second;
  return nullptr;
}

const TXmlElement* TXmlElement::Child(std::string_view localName) const {
  for (const TXmlElement& c : Children)
    if (c.LocalName() == localName) return &c;
  return nullptr;
}

const TXmlElement* TXmlElement::Find(std::string_view localName) const {
  for (const TXmlElement& c : Children) {
    if (c.LocalName() == localName) return &c;
    if (const TXmlElement* below = c.Find(localName)) return below;
  }
  return nullptr;
}

std::optional<TXmlElement> ParseXml(std::string_view text) { return TReader(text).Document(); }
