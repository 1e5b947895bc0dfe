#include "Jp2Boxes.h"

#include "Jp2File.h"

namespace {
uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
uint64_t Be64(const uint8_t* p) { return uint64_t{Be32(p)} << 32 | Be32(p + 4); }

// head: the box's first bytes, available of them (8 of a 32-bit length are enough).
bool DecodeBox(const uint8_t* head, uint64_t available, uint64_t offset, uint64_t limit, TJp2Box& box) {
  if (limit < offset || limit - offset < 8 || available < 8) return false;
  box.Type = Be32(head + 4);
  uint64_t length = Be32(head);
  uint64_t headLength = 8;
  box.Claimed = length;
  if (length == 1) {
    if (limit - offset < 16 || available < 16) {
      box.Claimed = 0;
      return false;
    }
    length = box.Claimed = Be64(head + 8);
    headLength = 16;
  } else if (length == 0) {
    length = limit - offset;  // to the end of its parent
  }
  if (length > limit - offset && box.Type == Jp2BoxType("jp2c")) length = limit - offset;
  if (length < headLength || length > limit - offset) return false;
  box.Content = offset + headLength;
  box.End = offset + length;
  return true;
}
}  // namespace

bool ReadJp2Box(const uint8_t* data, uint64_t offset, uint64_t limit, TJp2Box& box) {
  box = TJp2Box{};
  return data && offset <= limit && DecodeBox(data + offset, limit - offset, offset, limit, box);
}

bool ReadJp2Box(TJp2File& file, uint64_t offset, uint64_t limit, TJp2Box& box) {
  box = TJp2Box{};
  if (limit < offset || limit > file.Size()) return false;
  uint8_t head[16];
  const uint64_t available = limit - offset < 16 ? limit - offset : 16;
  if (available < 8 || !file.ReadAt(offset, head, static_cast<size_t>(available))) return false;
  return DecodeBox(head, available, offset, limit, box);
}

TJp2Boxes ReadJp2Boxes(TJp2File& file) {
  TJp2Boxes boxes;
  bool collecting = true;
  uint64_t at = 0;
  for (; at < file.Size(); at = boxes.Stop.End) {
    boxes.StopAt = at;
    if (!ReadJp2Box(file, at, file.Size(), boxes.Stop)) return boxes;
    const TJp2Box& box = boxes.Stop;
    if (box.Type == Jp2BoxType("jp2c")) {
      boxes.Codestream = true;
      return boxes;
    }
    if (box.Type == Jp2BoxType("jp2h")) {
      boxes.HeaderBox = true;
      TJp2Box child;
      for (uint64_t inner = box.Content; inner < box.End && !boxes.HeaderBroken; inner = child.End) {
        boxes.HeaderBroken = !ReadJp2Box(file, inner, box.End, child);
        if (!boxes.HeaderBroken) boxes.HeaderChildren.push_back(child.Type);
      }
    }
    // The boxes read into memory stay whole and in a row from the file's start.
    collecting = collecting && box.Claimed != 0 && box.End <= kJp2HeaderReadLimit;
    if (collecting) {
      boxes.Head.resize(static_cast<size_t>(box.End));
      if (!file.ReadAt(at, boxes.Head.data() + at, static_cast<size_t>(box.End - at))) {
        boxes.Head.resize(static_cast<size_t>(at));
        collecting = false;
      }
    }
  }
  // The boxes end with the file, no codestream among them.
  boxes.StopAt = at;
  boxes.Stop = TJp2Box{};
  return boxes;
}
