// Readers for the bytes a drag source hands over: DROPFILES blocks (CF_HDROP), zero-terminated
// name lists ("FileNameMapW", "FileNameMap"), single names ("FileNameW", "FileName") and CIDA
// blocks ("Shell IDList Array").
//
// Everything here is a pure function over (pointer, size) and never reads outside those
// bytes: the size is the one the medium reports, and a drag source is free to send anything.
// Malformed data yields the names read up to the fault (or nothing), never an error.
// Portable on purpose, so that it is fuzzed natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dropparsers {

// Size of the DROPFILES header: pFiles, pt.x, pt.y, fNC, fWide (5 x 32 bits).
constexpr size_t kDropFilesHeaderSize = 20;

// The names of a DROPFILES block, in the block's order, duplicates kept. Wide names are
// UTF-16 code units as sent; narrow names are the raw bytes (ANSI code page, converted by
// the caller, which knows the platform).
struct DropFiles {
  bool wide = false;
  std::vector<std::u16string> wideNames;
  std::vector<std::string> narrowNames;
  size_t Count() const { return wide ? wideNames.size() : narrowNames.size(); }
};

// Zero-terminated names one after the other, ended by an empty name or by the end of the
// data. A name without its terminator inside the data is dropped, and reading stops there.
// Appends to names; true when at least one name was added.
bool ReadWideNameList(const uint8_t* data, size_t size, std::vector<std::u16string>& names);
bool ReadNarrowNameList(const uint8_t* data, size_t size, std::vector<std::string>& names);

// A CF_HDROP block. Nothing (nullopt) when the block holds no more than the header; otherwise
// the names found from the block's list offset on, possibly none (offset at or past the end).
std::optional<DropFiles> ParseDropFiles(const uint8_t* data, size_t size);

// "FileNameW": the first size / 2 UTF-16 units exactly as they are, terminator and any tail
// included (an odd last byte is ignored).
std::u16string ParseUnicodeFilename(const uint8_t* data, size_t size);

// "FileName": the bytes, cut before the first zero byte when trimZeroes is set.
std::string ParseAnsiFilename(const uint8_t* data, size_t size, bool trimZeroes);

// Size in bytes of the item ID list at data (its items plus the 2-byte zero terminator),
// or 0 when the list does not end inside size bytes or holds an item shorter than its own
// size field.
size_t IdListSize(const uint8_t* data, size_t size);

// Where one ID list of a CIDA block lies: data + offset, size bytes including the terminator.
struct IdListSpan {
  size_t offset = 0;
  size_t size = 0;
};

// A CIDA block: a 32-bit count, then count + 1 32-bit offsets, the first to the parent
// folder's absolute ID list, the others to the items' lists relative to it.
// False (and no spans) when the block is shorter than its count demands (4 + 12 x count
// bytes, computed without overflow, and at least the offset table). Otherwise the spans in
// offset order, parent first, stopping at the first list that lies outside the block; true
// when more than one list was found.
bool ParseCida(const uint8_t* data, size_t size, std::vector<IdListSpan>& spans);

// The absolute ID list of an item: the parent's list without its terminator (nothing when the
// parent is the desktop, only a terminator), followed by the item's list with its terminator.
// Both arguments must be whole lists as IdListSize measures them.
std::vector<uint8_t> JoinIdLists(const uint8_t* parent, size_t parentSize, const uint8_t* item,
                                 size_t itemSize);

}  // namespace dropparsers
