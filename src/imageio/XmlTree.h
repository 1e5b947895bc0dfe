// A small XML reader for the documents that travel with band files: the GML in a JPEG 2000
// header and the product metadata beside the bands. It builds the element tree of one document
// within fixed bounds (depth, element count) and refuses anything it cannot read for certain;
// no DTD, no external entities, nothing fetched.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct TXmlElement {
  std::string Name;  // as written, with its prefix ("gml:pos")
  std::vector<std::pair<std::string, std::string>> Attributes;
  std::string Text;  // the character data directly inside, entities resolved
  std::vector<TXmlElement> Children;

  // The name without its namespace prefix; documents differ in the prefixes they choose.
  std::string_view LocalName() const;
  // The attribute of that local name, or null.
  const std::string* Attribute(std::string_view localName) const;
  // The first child of that local name, or null.
  const TXmlElement* Child(std::string_view localName) const;
  // The first element of that local name in document order below this one, or null.
  const TXmlElement* Find(std::string_view localName) const;
};

constexpr size_t kXmlMaxDepth = 64;
constexpr size_t kXmlMaxElements = 200000;

// The root element of a well-formed document, or nothing.
std::optional<TXmlElement> ParseXml(std::string_view text);
