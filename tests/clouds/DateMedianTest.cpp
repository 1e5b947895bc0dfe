// The cloud-free median against numpy on generated dates (every pixel; odd and even numbers of
// clear dates, none, a single date), the hand-checked cases of the rule, and the masking of one
// picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "CloudReferences.h"
#include "DateMedian.h"

namespace fs = std::filesystem;

namespace {
TRowView View(const std::vector<uint16_t>& samples, uint32_t width, uint32_t height) {
  TRowView view;
  view.Top = reinterpret_cast<const uint8_t*>(samples.data());
  view.Stride = static_cast<ptrdiff_t>(width) * 6;
  view.Width = width;
  view.Height = height;
  return view;
}

// One pixel over several dates: {r, g, b, masked}.
struct TObservation {
  uint16_t R, G, B;
  bool Masked;
};
std::vector<uint16_t> MedianOf(const std::vector<TObservation>& observations) {
  std::vector<std::vector<uint16_t>> samples;
  std::vector<std::vector<uint8_t>> masks;
  std::vector<TDateRows> dates;
  for (const TObservation& o : observations) {
    samples.push_back({o.R, o.G, o.B});
    masks.push_back({static_cast<uint8_t>(o.Masked)});
  }
  for (size_t d = 0; d < samples.size(); ++d) dates.push_back({View(samples[d], 1, 1), masks[d].data()});
  std::vector<uint16_t> out(3, 7);
  MedianOfDates(dates, 1, 1, out.data(), 3);
  return out;
}
}  // namespace

TEST(DateMedian, FollowsTheRuleOnHandCheckedPixels) {
  using V = std::vector<uint16_t>;
  // One date, clear: itself. Masked, or any band without data: no data.
  EXPECT_EQ(MedianOf({{5, 6, 7, false}}), (V{5, 6, 7}));
  EXPECT_EQ(MedianOf({{5, 6, 7, true}}), (V{0, 0, 0}));
  EXPECT_EQ(MedianOf({{5, 0, 7, false}}), (V{0, 0, 0}));
  // Odd count: the middle, band by band (each band may come from another date).
  EXPECT_EQ(MedianOf({{30, 1, 9, false}, {10, 3, 8, false}, {20, 2, 7, false}}), (V{20, 2, 8}));
  // Even count: the lower middle, a value that was observed.
  EXPECT_EQ(MedianOf({{40, 4, 4, false}, {10, 3, 1, false}, {30, 2, 2, false}, {20, 1, 3, false}}), (V{20, 2, 2}));
  // Masked dates and dates with a band missing do not count at all, not even their valid bands.
  EXPECT_EQ(MedianOf({{1000, 1000, 1000, true}, {10, 10, 10, false}, {900, 900, 0, false}, {12, 12, 12, false}}),
            (V{10, 10, 10}));
  EXPECT_EQ(MedianOf({{1, 1, 1, true}, {2, 2, 2, true}}), (V{0, 0, 0}));
}

TEST(DateMedian, MatchesNumpyOnEveryPixel) {
  // Random dates and numpy's median of them, made by make-references.py.
  const fs::path references = cloudrefs::Folder() / "median";
  const uint32_t width = 97, height = 61;
  const size_t pixels = size_t{width} * height;
  for (uint32_t dateCount : {1u, 2u, 3u, 4u, 5u, 8u}) {
    const std::string stem = std::to_string(dateCount);
    const std::vector<uint16_t> samples = cloudrefs::Read<uint16_t>(references / (stem + ".samples"));
    const std::vector<uint8_t> masks = cloudrefs::Read<uint8_t>(references / (stem + ".masks"));
    const std::vector<uint16_t> numpy = cloudrefs::Read<uint16_t>(references / (stem + ".median"));
    ASSERT_EQ(samples.size(), dateCount * pixels * 3) << "no references in " << references.string();
    ASSERT_EQ(masks.size(), dateCount * pixels);
    ASSERT_EQ(numpy.size(), pixels * 3);
    std::vector<TDateRows> dates;
    for (uint32_t d = 0; d < dateCount; ++d) {
      TDateRows date;
      date.Samples.Top = reinterpret_cast<const uint8_t*>(samples.data() + d * pixels * 3);
      date.Samples.Stride = static_cast<ptrdiff_t>(width) * 6;
      date.Samples.Width = width;
      date.Samples.Height = height;
      date.Masked = masks.data() + d * pixels;
      dates.push_back(date);
    }
    // Rows in two ranges of different heights, as a streaming caller hands them in.
    std::vector<uint16_t> ours(pixels * 3);
    const uint32_t split = 17;
    uint64_t empty = MedianOfDates(dates, width, split, ours.data(), size_t{width} * 3);
    std::vector<TDateRows> rest = dates;
    for (TDateRows& date : rest) {
      date.Samples.Top += static_cast<ptrdiff_t>(split) * date.Samples.Stride;
      date.Masked += size_t{split} * width;
    }
    empty += MedianOfDates(rest, width, height - split, ours.data() + size_t{split} * width * 3, size_t{width} * 3);

    // Which counts of clear dates occurred, so the comparison covers them.
    std::vector<size_t> byCount(dateCount + 1);
    for (size_t p = 0; p < pixels; ++p) {
      uint32_t clear = 0;
      for (uint32_t d = 0; d < dateCount; ++d) {
        const uint16_t* s = samples.data() + (d * pixels + p) * 3;
        clear += !masks[d * pixels + p] && s[0] && s[1] && s[2];
      }
      ++byCount[clear];
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(ours[p * 3 + c], numpy[p * 3 + c])
            << dateCount << " dates, pixel " << p << " band " << c << ", " << clear << " clear";
    }
    for (uint32_t k = 0; k <= std::min(dateCount, 4u); ++k) EXPECT_GT(byCount[k], 0u) << k << " clear of " << dateCount;
    EXPECT_EQ(empty, byCount[0]);
  }
}

TEST(DateMedian, ApplyMaskClearsMaskedAndPartlyMissingPixels) {
  // Four pixels: clear, masked, blue missing, clear; the second row with another stride.
  std::vector<uint16_t> rows = {1, 2, 3, 4, 5, 6, 7, 8, 0, 9, 9, 9, 99, 99,
                                1, 1, 1, 0, 0, 0, 7, 7, 7, 9, 9, 9, 99, 99};
  const std::vector<uint8_t> masked = {0, 1, 0, 0, 1, 0, 0, 1};
  EXPECT_EQ(ApplyMask(rows.data(), 4, 2, 14, masked.data()), 3u);
  const std::vector<uint16_t> expected = {1, 2, 3, 0, 0, 0, 0, 0, 0, 9, 9, 9, 99, 99,
                                          0, 0, 0, 0, 0, 0, 7, 7, 7, 0, 0, 0, 99, 99};
  EXPECT_EQ(rows, expected);
}
