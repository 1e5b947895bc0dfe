#include "XmlTree.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Utf8.h"

namespace {
// --- pugixml's memory, counted against the document being parsed ------------------------------

// What the parse on this thread may still take; none outside ReadXml.
struct TBudget {
  size_t Left = 0;
  bool Exceeded = false;
};
thread_local TBudget* gBudget = nullptr;

// Each block remembers its size and the budget it was charged to, so that what a parse frees
// again is given back to that parse only.
struct alignas(std::max_align_t) TBlockHeader {
  size_t Size;
  TBudget* Budget;
};

void* Allocate(size_t size) {
  TBudget* budget = gBudget;
  if (budget) {
    if (size > budget->Left) {
      budget->Exceeded = true;
      return nullptr;
    }
    budget->Left -= size;
  }
  void* block = std::malloc(sizeof(TBlockHeader) + size);
  if (!block) {
    if (budget) budget->Left += size;
    return nullptr;
  }
  *static_cast<TBlockHeader*>(block) = {size, budget};
  return static_cast<TBlockHeader*>(block) + 1;
}

void Deallocate(void* pointer) {
  if (!pointer) return;
  TBlockHeader* header = static_cast<TBlockHeader*>(pointer) - 1;
  if (header->Budget && header->Budget == gBudget) gBudget->Left += header->Size;
  std::free(header);
}

// Before main, ahead of any document: every block pugixml frees was then allocated here.
[[maybe_unused]] const bool gAllocatorInstalled = (pugi::set_memory_management_functions(Allocate, Deallocate), true);

class TBudgetScope {
 public:
  explicit TBudgetScope(TBudget& budget) : FOuter(gBudget) { gBudget = &budget; }
  ~TBudgetScope() { gBudget = FOuter; }
  TBudgetScope(const TBudgetScope&) = delete;
  TBudgetScope& operator=(const TBudgetScope&) = delete;

 private:
  TBudget* FOuter;
};

// --- References ----------------------------------------------------------------------------

// The reference at text (just past '&'): its length through ';' and what it stands for, or 0
// for one we do not read. Out of XML's five and character references there is no other
// without a DTD.
size_t Reference(const char* text, std::string* out) {
  size_t end = 0;
  while (end < 12 && text[end] && text[end] != ';') ++end;
  if (end == 12 || text[end] != ';') return 0;
  const std::string_view ref(text, end);
  const size_t length = ref.size() + 1;
  static const std::pair<std::string_view, char> kNamed[] = {
      {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto& [name, c] : kNamed)
    if (ref == name) {
      if (out) *out += c;
      return length;
    }
  if (ref.size() < 2 || ref[0] != '#') return 0;
  const bool hex = ref[1] == 'x';
  const std::string_view digits = ref.substr(hex ? 2 : 1);
  if (digits.empty()) return 0;
  uint32_t cp = 0;
  for (char d : digits) {
    uint32_t v;
    if (d >= '0' && d <= '9') v = static_cast<uint32_t>(d - '0');
    else if (hex && d >= 'a' && d <= 'f') v = static_cast<uint32_t>(d - 'a' + 10);
    else if (hex && d >= 'A' && d <= 'F') v = static_cast<uint32_t>(d - 'A' + 10);
    else return 0;
    cp = cp * (hex ? 16 : 10) + v;
    if (cp > 0x10FFFF) return 0;
  }
  if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  if (out) AppendUtf8(*out, cp);
  return length;
}

// Every reference in text is one we read; in an attribute, no '<' either.
bool ReferencesRead(const char* text, bool attribute) {
  for (const char* c = text; *c; ++c) {
    if (attribute && *c == '<') return false;
    if (*c != '&') continue;
    const size_t length = Reference(c + 1, nullptr);
    if (!length) return false;
    c += length;
  }
  return true;
}

// The bounds and references over the whole tree, without recursion: pugixml's own parse has
// none, and a hostile document may be nested far deeper than any stack.
TXmlRead CheckTree(const pugi::xml_document& document) {
  size_t elements = 0, attributes = 0, depth = 1;
  pugi::xml_node node = document.first_child();
  while (node) {
    switch (node.type()) {
      case pugi::node_doctype: return TXmlRead::Doctype;
      case pugi::node_element:
        if (depth > kXmlMaxDepth || ++elements > kXmlMaxElements) return TXmlRead::TooLarge;
        for (const pugi::xml_attribute& a : node.attributes()) {
          if (++attributes > kXmlMaxAttributes) return TXmlRead::TooLarge;
          if (!ReferencesRead(a.value(), true)) return TXmlRead::NotXml;
        }
        if (!ReferencesRead(node.value(), false)) return TXmlRead::NotXml;
        break;
      case pugi::node_pcdata:
        if (!ReferencesRead(node.value(), false)) return TXmlRead::NotXml;
        break;
      default: break;
    }
    if (node.first_child()) {
      node = node.first_child();
      ++depth;
      continue;
    }
    while (node != document && !node.next_sibling()) {
      node = node.parent();
      --depth;
    }
    node = node == document ? pugi::xml_node() : node.next_sibling();
  }
  return document.document_element() ? TXmlRead::Read : TXmlRead::NotXml;
}

void Build(const pugi::xml_node& node, TXmlElement& out) {
  out.Name = node.name();
  for (const pugi::xml_attribute& a : node.attributes()) out.Attributes.emplace_back(a.name(), XmlDecoded(a.value()));
  out.Text = XmlText(node);
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() != pugi::node_element) continue;
    out.Children.emplace_back();
    Build(child, out.Children.back());
  }
}
}  // namespace

TXmlRead ReadXml(std::string_view text, pugi::xml_document& document) {
  document.reset();
  if (text.size() > kXmlMaxBytes) return TXmlRead::TooLarge;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // References stay as written (no parse_escapes) so that the ones we do not read are seen.
  constexpr unsigned kOptions = pugi::parse_cdata | pugi::parse_doctype | pugi::parse_eol | pugi::parse_embed_pcdata;
  TBudget budget;
  budget.Left = text.size() / 2 * 5 + (size_t(64) << 10);
  pugi::xml_parse_result result;
  {
    TBudgetScope scope(budget);
    result = document.load_buffer(text.data(), text.size(), kOptions, pugi::encoding_utf8);
  }
  if (!result) {
    document.reset();
    if (result.status == pugi::status_out_of_memory) return TXmlRead::TooLarge;
    return result.status == pugi::status_bad_doctype ? TXmlRead::Doctype : TXmlRead::NotXml;
  }
  const TXmlRead checked = CheckTree(document);
  if (checked != TXmlRead::Read) document.reset();
  return checked;
}

std::string XmlDecoded(const char* raw) {
  std::string out;
  for (const char* c = raw; *c; ++c) {
    if (*c != '&') {
      out += *c;
      continue;
    }
    const size_t length = Reference(c + 1, &out);
    if (!length) {
      out += *c;  // not read by ReadXml; kept as written
      continue;
    }
    c += length;
  }
  return out;
}

std::string XmlText(const pugi::xml_node& element) {
  // The first run of text may sit in the element's own value, the rest in nodes of their own.
  std::string text = XmlDecoded(element.value());
  for (const pugi::xml_node& child : element.children()) {
    if (child.type() == pugi::node_pcdata) text += XmlDecoded(child.value());
    else if (child.type() == pugi::node_cdata) text += child.value();
  }
  return text;
}

std::string_view XmlLocalName(const char* name) {
  const std::string_view view(name);
  const size_t colon = view.find(':');
  return colon == std::string_view::npos ? view : view.substr(colon + 1);
}

std::string_view TXmlElement::LocalName() const { return XmlLocalName(Name.c_str()); }

const std::string* TXmlElement::Attribute(std::string_view localName) const {
  for (const auto& a : Attributes)
    if (XmlLocalName(a.first.c_str()) == localName) return &a.second;
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

std::optional<TXmlElement> ParseXml(std::string_view text) {
  pugi::xml_document document;
  if (ReadXml(text, document) != TXmlRead::Read) return std::nullopt;
  TXmlElement root;
  Build(document.document_element(), root);
  return root;
}
