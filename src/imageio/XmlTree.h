// The XML reader for the documents that travel with band files: the GML in a JPEG 2000 header
// and the product metadata beside the bands. pugixml parses; this keeps what a document may
// cost within fixed bounds and refuses what we do not read. No entity is ever expanded and
// nothing external is read: a DOCTYPE is refused outright, and so is any reference other than
// XML's five entities and character references.
//
// pugixml's memory goes through this module's allocator from start-up, so that a document's
// parse can be held to a share of its size; other code may use pugixml as usual.
#pragma once
#include <pugixml.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

constexpr size_t kXmlMaxBytes = size_t(64) << 20;
constexpr size_t kXmlMaxDepth = 64;
constexpr size_t kXmlMaxElements = 200000;
constexpr size_t kXmlMaxAttributes = 200000;

enum class TXmlRead {
  Read,
  TooLarge,  // beyond the bounds: size, depth, element or attribute count, memory
  NotXml,    // not well-formed, or an entity we do not read
  Doctype,   // a document type declaration, refused whatever it declares
};

// Parses text into document. pugixml's own memory for it stays under 2.5 times the text's
// size and 64 KiB. Element values and attributes keep their references unresolved: read them
// with XmlDecoded.
TXmlRead ReadXml(std::string_view text, pugi::xml_document& document);

// Character data with the five predefined entities and character references resolved, from
// a document ReadXml has checked.
std::string XmlDecoded(const char* raw);

// The character data directly inside an element, references resolved.
std::string XmlText(const pugi::xml_node& element);

// The name without its namespace prefix; documents differ in the prefixes they choose.
std::string_view XmlLocalName(const char* name);

// A document as a plain tree, for the small documents (GML) read whole.
struct TXmlElement {
  std::string Name;  // as written, with its prefix ("gml:pos")
  std::vector<std::pair<std::string, std::string>> Attributes;
  std::string Text;  // the character data directly inside, entities resolved
  std::vector<TXmlElement> Children;

  std::string_view LocalName() const;
  // The attribute of that local name, or null.
  const std::string* Attribute(std::string_view localName) const;
  // The first child of that local name, or null.
  const TXmlElement* Child(std::string_view localName) const;
  // The first element of that local name in document order below this one, or null.
  const TXmlElement* Find(std::string_view localName) const;
};

// The root element of a well-formed document within the bounds, or nothing.
std::optional<TXmlElement> ParseXml(std::string_view text);
