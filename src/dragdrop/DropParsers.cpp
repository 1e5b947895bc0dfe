#include "DropParsers.h"

#include <cstring>

namespace dropparsers {
namespace {

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool ReadWideNameList(const uint8_t* data, size_t size, std::vector<std::u16string>& names) {
  bool added = false;
  size_t pos = 0;
  // Only a whole zero unit ends the list: U+4E00 has a zero low byte and is a name like any other.
  while (size - pos >= 2 && ReadU16(data + pos) != 0) {
    size_t end = pos;
    while (size - end >= 2 && ReadU16(data + end) != 0) end += 2;
    if (size - end < 2) break;  // no terminator inside the data
    std::u16string name((end - pos) / 2, u'\0');
    for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char16_t>(ReadU16(data + pos + 2 * i));
    names.push_back(std::move(name));
    added = true;
    pos = end + 2;
  }
  return added;
}

bool ReadNarrowNameList(const uint8_t* data, size_t size, std::vector<std::string>& names) {
  bool added = false;
  size_t pos = 0;
  while (pos < size && data[pos] != 0) {
    const void* zero = std::memchr(data + pos, 0, size - pos);
    if (!zero) break;  // no terminator inside the data
    const size_t end = static_cast<size_t>(static_cast<const uint8_t*>(zero) - data);
    names.emplace_back(reinterpret_cast<const char*>(data + pos), end - pos);
    added = true;
    pos = end + 1;
  }
  return added;
}

std::optional<DropFiles> ParseDropFiles(const uint8_t* data, size_t size) {
  if (!data || size <= kDropFilesHeaderSize) return std::nullopt;
  DropFiles result;
  const uint32_t listOffset = ReadU32(data);
  result.wide = ReadU32(data + 16) != 0;
  if (listOffset >= size) return result;  // the list lies outside the block: no names
  const uint8_t* list = data + listOffset;
  const size_t remaining = size - listOffset;
  if (result.wide)
    ReadWideNameList(list, remaining, result.wideNames);
  else
    ReadNarrowNameList(list, remaining, result.narrowNames);
  return result;
}

std::u16string ParseUnicodeFilename(const uint8_t* data, size_t size) {
  if (!data) return {};
  std::u16string name(size / 2, u'\0');
  for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char16_t>(ReadU16(data + 2 * i));
  return name;
}

std::string ParseAnsiFilename(const uint8_t* data, size_t size, bool trimZeroes) {
  if (!data) return {};
  std::string name(reinterpret_cast<const char*>(data), size);
  if (trimZeroes) {
    const size_t zero = name.find('\0');
    if (zero != std::string::npos) name.resize(zero);
  }
  return name;
}

size_t IdListSize(const uint8_t* data, size_t size) {
  if (!data) return 0;
  size_t pos = 0;
  while (size - pos >= 2) {
    const uint16_t itemSize = ReadU16(data + pos);
    if (itemSize == 0) return pos + 2;
    // An item's size counts its own size field; anything smaller cannot be walked.
    if (itemSize < 2 || itemSize > size - pos) return 0;
    pos += itemSize;
  }
  return 0;
}

bool ParseCida(const uint8_t* data, size_t size, std::vector<IdListSpan>& spans) {
  spans.clear();
  if (!data || size < 4) return false;
  const uint64_t count = ReadU32(data);
  // The format's own bound, in 64 bits so that a huge count cannot wrap past it, and the
  // offset table itself, which the bound does not cover for a count of 0.
  if (size < 4 + 12 * count || size < 4 + 4 * (count + 1)) return false;
  for (uint64_t i = 0; i <= count; ++i) {
    const uint32_t offset = ReadU32(data + 4 + 4 * i);
    if (offset >= size) break;
    const size_t listSize = IdListSize(data + offset, size - offset);
    if (listSize == 0) break;
    spans.push_back({offset, listSize});
  }
  return spans.size() > 1;
}

std::vector<uint8_t> JoinIdLists(const uint8_t* parent, size_t parentSize, const uint8_t* item,
                                 size_t itemSize) {
  std::vector<uint8_t> joined;
  const size_t parentItems = parentSize >= 2 ? parentSize - 2 : 0;
  joined.reserve(parentItems + itemSize);
  if (parentItems) joined.insert(joined.end(), parent, parent + parentItems);
  if (itemSize) joined.insert(joined.end(), item, item + itemSize);
  return joined;
}

}  // namespace dropparsers
