// The boxes a JP2 file is made of (length, type, content), read by one reader whether they lie
// in the file or in bytes already read from it, and the walk of a file's boxes up to its
// codestream that both the codestream's header and the georeferencing are read from.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

class TJp2File;

constexpr uint32_t Jp2BoxType(const char (&name)[5]) {
  return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8 |
         uint8_t(name[3]);
}

struct TJp2Box {
  uint32_t Type = 0;
  uint64_t Content = 0, End = 0;  // offsets of its content and of what follows it
  uint64_t Claimed = 0;           // the length its header states; 0: to the end of its parent
  uint64_t Size() const { return End - Content; }
};

// The box at offset within a parent ending at limit; data holds the bytes up to limit. False
// when its header is cut or it claims more than its parent holds, except that a codestream box
// may be cut short: the codestream's own reading then finds where, and fails there. Type and
// Claimed are filled in whenever the first 8 bytes are there.
bool ReadJp2Box(const uint8_t* data, uint64_t offset, uint64_t limit, TJp2Box& box);
// The same, reading the box's header from the file.
bool ReadJp2Box(TJp2File& file, uint64_t offset, uint64_t limit, TJp2Box& box);

// The header boxes read into memory take at most this many bytes.
constexpr size_t kJp2HeaderReadLimit = 4u << 20;

// A file's top-level boxes walked once from its start until its codestream box or the first box
// that cannot be read.
struct TJp2Boxes {
  // The file's bytes from its start: the whole boxes before the codestream, as long as they are
  // no more than kJp2HeaderReadLimit and none of them runs to the end of the file.
  std::vector<uint8_t> Head;
  bool Codestream = false;  // the walk ended at the codestream box, Stop
  TJp2Box Stop;             // the box the walk ended at: the codestream, or one it could not read
  uint64_t StopAt = 0;      // where that box starts
  // The JP2 header boxes met on the way: their children's types, and whether a child could not
  // be read.
  bool HeaderBox = false, HeaderBroken = false;
  std::vector<uint32_t> HeaderChildren;
};

TJp2Boxes ReadJp2Boxes(TJp2File& file);
