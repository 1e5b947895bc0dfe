// A quicklook made from rows of a 48-bit picture as they pass on their way to its writer, for
// pictures that exist only as rows (the cloud-free one): each block of 2^reduce x 2^reduce
// pixels averaged over its valid pixels, mapped to 8 bits as ESA's true-colour image is, and
// written as an 8-bit RGB PNG whose 0, 0, 0 (no data) is transparent.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ImageFiles.h"
#include "RowSink.h"

class TRowQuicklook : public TRowSink {
 public:
  // offsets: the red, green and blue bands' radiometric offsets.
  TRowQuicklook(uint32_t width, uint32_t height, unsigned reduce, const int (&offsets)[3]);

  bool Put(const TRowView& rows) override;
  bool Finish() override;
  // Once finished: writes the PNG to path (replacing it only once complete); false on failure.
  bool Save(const std::wstring& path);

  uint32_t Width() const { return FOutWidth; }
  uint32_t Height() const { return FOutHeight; }

 private:
  void EmitRow();

  uint32_t FWidth, FHeight, FOutWidth, FOutHeight;
  unsigned FReduce;
  int FOffsets[3];
  TBitmap FPicture;
  std::vector<uint64_t> FSums;    // 3 a pixel of the output row being gathered
  std::vector<uint32_t> FCounts;  // valid input pixels in each
  uint32_t FRow = 0;              // input rows taken
  uint32_t FOutRow = 0;           // output rows made
  bool FFailed = false;
};

// Tells every row to two sinks: the picture's writer, then what else watches it.
class TTeeSink : public TRowSink {
 public:
  TTeeSink(TRowSink& first, TRowSink& second) : FFirst(first), FSecond(second) {}
  bool Put(const TRowView& rows) override { return FFirst.Put(rows) && FSecond.Put(rows); }
  bool Finish() override {
    const bool first = FFirst.Finish();
    return FSecond.Finish() && first;
  }

 private:
  TRowSink& FFirst;
  TRowSink& FSecond;
};
