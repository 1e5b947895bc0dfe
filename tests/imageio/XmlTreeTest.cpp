// The XML reader's refusals and bounds, against the documents a hostile or careless source
// would send as product metadata: declarations of entities, external references, nesting,
// element and attribute counts, and trees that would cost many times their text.
#include <gtest/gtest.h>

#include <string>

#include "BandOffset.h"
#include "XmlTree.h"

namespace {
TXmlRead Read(const std::string& text) {
  pugi::xml_document document;
  return ReadXml(text, document);
}

std::string Repeat(const std::string& part, size_t count) {
  std::string out;
  out.reserve(part.size() * count);
  for (size_t k = 0; k < count; ++k) out += part;
  return out;
}

const char* const kOffset = "<r><BOA_ADD_OFFSET band_id=\"3\">-1000</BOA_ADD_OFFSET></r>";

TEST(XmlReader, AnyDoctypeIsRefusedAndNoEntityIsExpanded) {
  const std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
                             "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">]>";
  const std::string external = "<!DOCTYPE r [<!ENTITY ext SYSTEM \"file:///etc/passwd\">]>";
  for (const std::string& head : {laughs, external, std::string("<!DOCTYPE r>"),
                                  std::string("<!DOCTYPE r SYSTEM \"http://example.com/r.dtd\">")}) {
    EXPECT_EQ(Read(head + "<r>&lol2;&ext;</r>"), TXmlRead::Doctype) << head;
    const TBandOffset offset = BandOffsetFromMetadata(head + kOffset, 3);
    EXPECT_EQ(offset.Read, TXmlRead::Doctype);
    EXPECT_FALSE(offset.Readable || offset.Offset);
  }
  // An entity nobody declared is not XML we read, in text or in an attribute.
  EXPECT_EQ(Read("<r>&ext;</r>"), TXmlRead::NotXml);
  EXPECT_EQ(Read("<r a='&ext;'/>"), TXmlRead::NotXml);
  EXPECT_EQ(Read("<r><![CDATA[&ext;]]><!-- &ext; --></r>"), TXmlRead::Read);  // no reference there
  const TBandOffset junk = BandOffsetFromMetadata("PK\x03\x04 not xml", 3);
  EXPECT_EQ(junk.Read, TXmlRead::NotXml);
  EXPECT_EQ(BandOffsetFromMetadata(kOffset, 3).Offset, -1000);
  EXPECT_EQ(BandOffsetFromMetadata(kOffset, 3).Read, TXmlRead::Read);
}

TEST(XmlReader, NestingAndCountsAreBounded) {
  // Far deeper than any stack would take, refused without recursing.
  EXPECT_EQ(Read(Repeat("<e>", 100000) + Repeat("</e>", 100000)), TXmlRead::TooLarge);
  // Elements and attributes: up to the bound, not one more. The texts and values are long
  // enough that the tree's memory is no bound here.
  const std::string value(60, 'v');
  const auto elements = [&](size_t n) { return "<r>" + Repeat("<e>" + value + "</e>", n - 1) + "</r>"; };
  EXPECT_EQ(Read(elements(kXmlMaxElements)), TXmlRead::Read);
  EXPECT_EQ(Read(elements(kXmlMaxElements + 1)), TXmlRead::TooLarge);
  const auto attributes = [&](size_t n) { return "<r" + Repeat(" a='" + value + "'", n) + "/>"; };
  EXPECT_EQ(Read(attributes(kXmlMaxAttributes)), TXmlRead::Read);
  EXPECT_EQ(Read(attributes(kXmlMaxAttributes + 1)), TXmlRead::TooLarge);
  // Short names and empty values, as in the 64 MiB root of 16.7 million attributes: the tree
  // would take far more than 2.5 times the text, and the parse stops there.
  EXPECT_EQ(Read("<r" + Repeat(" a=''", 1000000) + "/>"), TXmlRead::TooLarge);
  EXPECT_EQ(Read("<r>" + Repeat("<a/>", 150000) + "</r>"), TXmlRead::TooLarge);
  EXPECT_EQ(Read(std::string(kXmlMaxBytes + 1, ' ')), TXmlRead::TooLarge);
}
}  // namespace
