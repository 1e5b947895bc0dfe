// The masking sink: each run of rows masked with the same rows of the mask, whatever the run
// heights, the caller's rows untouched, the count of masked pixels, and a picture that ends
// early or runs over reported.
#include <gtest/gtest.h>

#include <vector>

#include "MaskingSink.h"

namespace {
class TRecordingSink : public TRowSink {
 public:
  bool Put(const TRowView& rows) override {
    for (uint32_t y = 0; y < rows.Height; ++y) Samples.insert(Samples.end(), rows.Row(y), rows.Row(y) + 3 * rows.Width);
    return true;
  }
  bool Finish() override {
    Finished = true;
    return true;
  }
  std::vector<uint16_t> Samples;
  bool Finished = false;
};

TPlacedGrid Grid(double left, double top, double size, uint32_t width, uint32_t height) {
  TPlacedGrid grid;
  grid.Georeference = {32629, left, top, size, size};
  grid.Width = width;
  grid.Height = height;
  return grid;
}

TRowView View(const std::vector<uint16_t>& samples, uint32_t width, uint32_t first, uint32_t count) {
  TRowView view;
  view.Top = reinterpret_cast<const uint8_t*>(samples.data() + size_t{first} * width * 3);
  view.Stride = static_cast<ptrdiff_t>(width) * 6;
  view.Width = width;
  view.Height = count;
  return view;
}
}  // namespace

TEST(MaskingSink, MasksEachRunWithItsOwnRowsOfTheMask) {
  // A 20 m mask, 3 pixels to each 60 m pixel, whose centre pixel alone decides: mask pixel
  // (3x + 1, 3y + 1) is set exactly for the 60 m pixels with (x + y) % 3 == 0; every other mask
  // pixel is set, so a wrong pick shows.
  const uint32_t width = 7, height = 5;
  std::vector<uint8_t> fine(size_t{21} * 15, 1);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) fine[size_t{3 * y + 1} * 21 + 3 * x + 1] = (x + y) % 3 == 0;
  const TCloudMask mask(Grid(1000, 2000, 20, 21, 15), fine, 1);
  const TPlacedGrid grid = Grid(1000, 2000, 60, width, height);

  std::vector<uint16_t> picture(size_t{width} * height * 3);
  for (size_t k = 0; k < picture.size(); ++k) picture[k] = static_cast<uint16_t>(100 + k);
  picture[3 * (2 * width + 1) + 2] = 0;  // (1, 2): blue without data, not masked
  const std::vector<uint16_t> before = picture;

  TRecordingSink recorder;
  TMaskingSink sink(recorder, mask, grid);
  ASSERT_TRUE(sink.Put(View(picture, width, 0, 2)));
  ASSERT_TRUE(sink.Put(View(picture, width, 2, 1)));
  ASSERT_TRUE(sink.Put(View(picture, width, 3, 2)));
  ASSERT_TRUE(sink.Finish());
  EXPECT_TRUE(recorder.Finished);
  EXPECT_EQ(picture, before);

  ASSERT_EQ(recorder.Samples.size(), picture.size());
  uint64_t masked = 0;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const size_t at = 3 * (size_t{y} * width + x);
      const bool hidden = (x + y) % 3 == 0;
      masked += hidden;
      const bool black = hidden || (x == 1 && y == 2);
      for (int c = 0; c < 3; ++c) EXPECT_EQ(recorder.Samples[at + c], black ? 0 : picture[at + c]) << x << "," << y;
    }
  }
  EXPECT_EQ(sink.MaskedPixels(), masked);
  EXPECT_EQ(sink.Pixels(), uint64_t{width} * height);
}

TEST(MaskingSink, TooFewOrTooManyRowsFail) {
  const TCloudMask mask(Grid(0, 100, 10, 10, 10), std::vector<uint8_t>(100, 0), 0);
  const TPlacedGrid grid = Grid(0, 100, 10, 10, 10);
  const std::vector<uint16_t> rows(10 * 11 * 3, 5);

  TRecordingSink early;
  TMaskingSink short_(early, mask, grid);
  ASSERT_TRUE(short_.Put(View(rows, 10, 0, 9)));
  EXPECT_FALSE(short_.Finish());

  TRecordingSink late;
  TMaskingSink long_(late, mask, grid);
  EXPECT_FALSE(long_.Put(View(rows, 10, 0, 11)));
  EXPECT_FALSE(long_.Put(View(rows, 10, 0, 1)));  // once failed, failed
  EXPECT_TRUE(late.Samples.empty());
}
