// The byte readers behind the file-name formats, on blocks built by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DropParsers.h"

using namespace dropparsers;

namespace {

using Bytes = std::vector<uint8_t>;

void PutU16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutWide(Bytes& b, const std::u16string& s) {
  for (char16_t c : s) PutU16(b, c);
  PutU16(b, 0);
}
void PutNarrow(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}

Bytes DropFilesHeader(uint32_t listOffset, bool wide) {
  Bytes b;
  PutU32(b, listOffset);
  PutU32(b, 0);  // pt.x
  PutU32(b, 0);  // pt.y
  PutU32(b, 0);  // fNC
  PutU32(b, wide ? 1 : 0);
  return b;
}

Bytes WideDropFiles(const std::vector<std::u16string>& names) {
  Bytes b = DropFilesHeader(20, true);
  for (const auto& n : names) PutWide(b, n);
  PutU16(b, 0);
  return b;
}

// One ID list with items of the given payloads.
Bytes IdList(const std::vector<std::string>& items) {
  Bytes b;
  for (const auto& it : items) {
    PutU16(b, static_cast<uint16_t>(it.size() + 2));
    b.insert(b.end(), it.begin(), it.end());
  }
  PutU16(b, 0);
  return b;
}

Bytes Cida(const std::vector<Bytes>& lists) {
  Bytes b;
  PutU32(b, static_cast<uint32_t>(lists.size() - 1));
  uint32_t offset = static_cast<uint32_t>(4 + 4 * lists.size());
  for (const auto& l : lists) {
    PutU32(b, offset);
    offset += static_cast<uint32_t>(l.size());
  }
  for (const auto& l : lists) b.insert(b.end(), l.begin(), l.end());
  return b;
}

TEST(DropFilesParse, WideNamesInOrderWithDuplicates) {
  const Bytes b = WideDropFiles({u"D:\\a.jp2", u"D:\\a.jp2", u"E:\\b.jp2"});
  auto r = ParseDropFiles(b.data(), b.size());
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->wide);
  EXPECT_EQ(r->wideNames, (std::vector<std::u16string>{u"D:\\a.jp2", u"D:\\a.jp2", u"E:\\b.jp2"}));
}

TEST(DropFilesParse, ZeroLowByteIsNotATerminator) {
  const Bytes b = WideDropFiles({u"\u4E00x.jp2", u"\u0100"});
  auto r = ParseDropFiles(b.data(), b.size());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->wideNames, (std::vector<std::u16string>{u"\u4E00x.jp2", u"\u0100"}));
}

TEST(DropFilesParse, NarrowNamesAreRawBytes) {
  Bytes b = DropFilesHeader(20, false);
  PutNarrow(b, "C:\\\xe9t\xe9.jp2");
  PutNarrow(b, "C:\\b");
  b.push_back(0);
  auto r = ParseDropFiles(b.data(), b.size());
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->wide);
  EXPECT_EQ(r->narrowNames, (std::vector<std::string>{"C:\\\xe9t\xe9.jp2", "C:\\b"}));
}

TEST(DropFilesParse, HeaderOnlyOrListOutsideGivesNothing) {
  Bytes header = DropFilesHeader(20, true);
  EXPECT_FALSE(ParseDropFiles(header.data(), header.size()));  // exactly 20 bytes
  EXPECT_FALSE(ParseDropFiles(header.data(), 3));
  EXPECT_FALSE(ParseDropFiles(nullptr, 100));

  for (uint32_t offset : {24u, 25u, 0xFFFFFFF0u, 0x80000000u}) {
    Bytes b = DropFilesHeader(offset, true);
    PutWide(b, u"x");
    auto r = ParseDropFiles(b.data(), b.size());
    ASSERT_TRUE(r) << offset;
    EXPECT_EQ(r->Count(), 0u) << offset;
  }
  // An empty first name ends the list at once.
  Bytes empty = DropFilesHeader(20, true);
  PutU16(empty, 0);
  PutWide(empty, u"never");
  EXPECT_EQ(ParseDropFiles(empty.data(), empty.size())->Count(), 0u);
}

TEST(DropFilesParse, UnterminatedNamesAreDroppedNotOverread) {
  // Second name runs to the end of the block without its zero unit.
  Bytes b = DropFilesHeader(20, true);
  PutWide(b, u"first");
  for (char16_t c : std::u16string(u"second")) PutU16(b, c);
  auto r = ParseDropFiles(b.data(), b.size());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->wideNames, std::vector<std::u16string>{u"first"});

  // An odd trailing byte cannot hold a terminator.
  Bytes odd = DropFilesHeader(20, true);
  PutWide(odd, u"a");
  odd.push_back('b');
  EXPECT_EQ(ParseDropFiles(odd.data(), odd.size())->wideNames, std::vector<std::u16string>{u"a"});

  Bytes narrow = DropFilesHeader(20, false);
  narrow.insert(narrow.end(), {'a', 0, 'b', 'c'});
  EXPECT_EQ(ParseDropFiles(narrow.data(), narrow.size())->narrowNames, std::vector<std::string>{"a"});
}

TEST(DropFilesParse, OddListOffsetIsReadUnaligned) {
  Bytes b = DropFilesHeader(21, true);
  b.push_back(0xAA);
  PutWide(b, u"odd");
  PutU16(b, 0);
  EXPECT_EQ(ParseDropFiles(b.data(), b.size())->wideNames, std::vector<std::u16string>{u"odd"});
}

TEST(NameListParse, AppendsWithoutClearing) {
  Bytes b;
  PutWide(b, u"x");
  PutWide(b, u"");
  std::vector<std::u16string> names{u"old"};
  EXPECT_TRUE(ReadWideNameList(b.data(), b.size(), names));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"old", u"x"}));
  EXPECT_FALSE(ReadWideNameList(b.data(), 0, names));
  std::vector<std::string> narrow;
  EXPECT_FALSE(ReadNarrowNameList(reinterpret_cast<const uint8_t*>("\0a\0"), 3, narrow));
  EXPECT_TRUE(narrow.empty());
}

TEST(SingleNameParse, UnicodeKeepsTailAnsiTrims) {
  Bytes b;
  PutWide(b, u"C:\\f.jp2");
  PutU16(b, 0);
  PutU16(b, u'Z');
  b.push_back(0x41);  // odd byte, ignored
  const std::u16string w = ParseUnicodeFilename(b.data(), b.size());
  EXPECT_EQ(w, std::u16string(u"C:\\f.jp2\0\0Z", 11));
  EXPECT_EQ(ParseUnicodeFilename(b.data(), 1), u"");

  const uint8_t a[] = {'a', 'b', 0, 'c'};
  EXPECT_EQ(ParseAnsiFilename(a, sizeof a, true), "ab");
  EXPECT_EQ(ParseAnsiFilename(a, sizeof a, false), std::string("ab\0c", 4));
  EXPECT_EQ(ParseAnsiFilename(a + 2, 2, true), "");
}

TEST(IdListParse, SizesAndMalformedLists) {
  const Bytes two = IdList({"abc", "de"});
  EXPECT_EQ(IdListSize(two.data(), two.size()), two.size());
  EXPECT_EQ(IdListSize(two.data(), two.size() - 1), 0u);  // terminator cut off
  const Bytes desktop = IdList({});
  EXPECT_EQ(IdListSize(desktop.data(), desktop.size()), 2u);
  const uint8_t tooShortItem[] = {1, 0, 0, 0};
  EXPECT_EQ(IdListSize(tooShortItem, sizeof tooShortItem), 0u);
  const uint8_t itemPastEnd[] = {9, 0, 'a', 'b', 0, 0};
  EXPECT_EQ(IdListSize(itemPastEnd, sizeof itemPastEnd), 0u);
}

TEST(CidaParse, ParentFirstThenItems) {
  const Bytes parent = IdList({"drive", "dir"});
  const Bytes a = IdList({"a"});
  const Bytes b = IdList({"bb"});
  const Bytes block = Cida({parent, a, b});
  std::vector<IdListSpan> spans;
  ASSERT_TRUE(ParseCida(block.data(), block.size(), spans));
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(Bytes(block.begin() + spans[0].offset, block.begin() + spans[0].offset + spans[0].size), parent);
  EXPECT_EQ(Bytes(block.begin() + spans[2].offset, block.begin() + spans[2].offset + spans[2].size), b);

  const Bytes joined = JoinIdLists(block.data() + spans[1].offset - parent.size(), parent.size(),
                                   a.data(), a.size());
  EXPECT_EQ(joined, IdList({"drive", "dir", "a"}));
  const Bytes desktop = IdList({});
  EXPECT_EQ(JoinIdLists(desktop.data(), desktop.size(), a.data(), a.size()), a);
}

TEST(CidaParse, MalformedBlocks) {
  std::vector<IdListSpan> spans;
  const Bytes good = Cida({IdList({"p"}), IdList({"a"}), IdList({"b"})});

  struct Case {
    const char* what;
    Bytes block;
    size_t expectSpans;
    bool expectOk;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}, 0, false});
  cases.push_back({"count only", {1, 0, 0, 0}, 0, false});
  {
    Bytes b;
    PutU32(b, 0);
    cases.push_back({"count 0 without offset table", b, 0, false});
    PutU32(b, 8);
    PutU16(b, 0);
    cases.push_back({"count 0, parent only", b, 1, false});
  }
  {
    Bytes b = good;
    b[0] = 3;  // more items than the block holds offsets for
    cases.push_back({"count too large", b, 0, false});
  }
  {
    // 4 + 12 x 0x15555556 wraps to 12 in 32 bits.
    Bytes b;
    PutU32(b, 0x15555556u);
    PutU32(b, 8);
    PutU32(b, 8);
    cases.push_back({"count overflowing 32 bits", b, 0, false});
  }
  {
    Bytes b = good;
    b[8] = 0xF0;  // first item's offset far outside
    b[9] = 0xFF;
    cases.push_back({"item offset outside", b, 1, false});
  }
  {
    Bytes b = good;
    b.pop_back();  // last list loses half its terminator
    cases.push_back({"last list unterminated", b, 2, true});
  }
  for (const auto& c : cases) {
    spans.assign(5, {});
    EXPECT_EQ(ParseCida(c.block.data(), c.block.size(), spans), c.expectOk) << c.what;
    EXPECT_EQ(spans.size(), c.expectSpans) << c.what;
    for (const auto& s : spans) EXPECT_LE(s.offset + s.size, c.block.size()) << c.what;
  }
}

}  // namespace
