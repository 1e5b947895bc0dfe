// The cloud-free median against numpy on generated dates (every pixel; odd and even numbers of
// clear dates, none, a single date), the hand-checked cases of the rule, and the masking of one
// picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "DateMedian.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

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

template <typename T>
void WriteRaw(const fs::path& path, const std::vector<T>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size() * sizeof(T)));
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
#if defined(_WIN32)
  GTEST_SKIP() << "numpy runs natively only";
#else
  const fs::path python = BANDWEAVE_SYSTEM_PYTHON;
  if (!fs::exists(python) || std::system((python.string() + " -c 'import numpy' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "no numpy";
  const fs::path work = fs::temp_directory_path() / ("bandweave-median-" + std::to_string(::getpid()));
  fs::create_directories(work);
  std::mt19937 random(21);
  for (uint32_t dateCount : {1u, 2u, 3u, 4u, 5u, 8u}) {
    const uint32_t width = 97, height = 61;
    const size_t pixels = size_t{width} * height;
    std::vector<uint16_t> samples(dateCount * pixels * 3);
    std::vector<uint8_t> masks(dateCount * pixels);
    // Values over the whole 16-bit range; about one pixel in three masked on a date and one
    // sample in twenty without data, so every count of clear dates from none to all occurs.
    for (auto& s : samples) s = random() % 20 == 0 ? 0 : static_cast<uint16_t>(random() % 65536);
    for (auto& m : masks) m = random() % 3 == 0;
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

    WriteRaw(work / "samples", samples);
    WriteRaw(work / "masks", masks);
    const std::string command = python.string() + " " + BANDWEAVE_CLOUDS_TESTS "/median_reference.py " +
                                std::to_string(dateCount) + " " + std::to_string(height) + " " +
                                std::to_string(width) + " " + (work / "samples").string() + " " +
                                (work / "masks").string() + " " + (work / "median").string();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<uint16_t> numpy(pixels * 3);
    std::ifstream in(work / "median", std::ios::binary);
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(numpy.data()), static_cast<std::streamsize>(numpy.size() * 2)));

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
  fs::remove_all(work);
#endif
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
