// The join of several dates pushed from threads of their own in runs of different heights: the
// same picture as the median of the whole dates at once, every row put once and in order; and a
// date that fails part way releases the others instead of leaving them waiting.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "CloudFreeJoin.h"
#include "DateMedian.h"

namespace {
class TRecordingSink : public TRowSink {
 public:
  bool Put(const TRowView& rows) override {
    for (uint32_t y = 0; y < rows.Height; ++y) Samples.insert(Samples.end(), rows.Row(y), rows.Row(y) + 3 * rows.Width);
    ++Puts;
    return true;
  }
  bool Finish() override {
    ++Finishes;
    return true;
  }
  std::vector<uint16_t> Samples;
  int Puts = 0, Finishes = 0;
};

TRowView View(const std::vector<uint16_t>& samples, uint32_t width, uint32_t first, uint32_t count) {
  TRowView view;
  view.Top = reinterpret_cast<const uint8_t*>(samples.data() + size_t{first} * width * 3);
  view.Stride = static_cast<ptrdiff_t>(width) * 6;
  view.Width = width;
  view.Height = count;
  return view;
}

TPlacedGrid Grid(uint32_t width, uint32_t height) {
  TPlacedGrid grid;
  grid.Georeference = {32629, 0, 1000, 10, 10};
  grid.Width = width;
  grid.Height = height;
  return grid;
}

// Pushes date's rows in runs of the given height, like a stream with its own tiling.
void Push(TRowSink& sink, const std::vector<uint16_t>& samples, uint32_t width, uint32_t height, uint32_t run,
          bool& ok) {
  ok = true;
  for (uint32_t first = 0; first < height && ok; first += run) ok = sink.Put(View(samples, width, first, std::min(run, height - first)));
  ok = ok && sink.Finish();
}
}  // namespace

TEST(CloudFreeJoin, DatesPushedInDifferentRunsGiveTheWholeMedian) {
  const uint32_t width = 23, height = 41;
  const TPlacedGrid grid = Grid(width, height);
  const size_t pixels = size_t{width} * height;
  std::mt19937 random(5);
  std::vector<std::vector<uint16_t>> samples(4, std::vector<uint16_t>(pixels * 3));
  for (auto& date : samples)
    for (auto& s : date) s = random() % 10 == 0 ? 0 : static_cast<uint16_t>(random());
  std::vector<TCloudMask> masks;
  std::vector<std::vector<uint8_t>> maskPixels;
  for (int d = 0; d < 4; ++d) {
    std::vector<uint8_t> m(pixels);
    for (auto& v : m) v = random() % 3 == 0;
    maskPixels.push_back(m);
    masks.emplace_back(grid, m, 1);
  }
  // Date 2 has no mask at all.
  std::vector<const TCloudMask*> maskOf = {&masks[0], &masks[1], nullptr, &masks[3]};

  std::vector<TDateRows> whole;
  for (int d = 0; d < 4; ++d) whole.push_back({View(samples[d], width, 0, height), d == 2 ? nullptr : maskPixels[d].data()});
  std::vector<uint16_t> expected(pixels * 3);
  const uint64_t expectedEmpty = MedianOfDates(whole, width, height, expected.data(), size_t{width} * 3);

  TRecordingSink target;
  TCloudFreeJoin join(target, maskOf, grid);
  const uint32_t runs[4] = {7, 16, 41, 1};
  bool ok[4];
  std::vector<std::thread> threads;
  for (int d = 0; d < 4; ++d)
    threads.emplace_back(Push, std::ref(join.Date(d)), std::cref(samples[d]), width, height, runs[d], std::ref(ok[d]));
  for (auto& t : threads) t.join();
  for (bool b : ok) EXPECT_TRUE(b);
  EXPECT_TRUE(join.Finish());
  EXPECT_EQ(target.Finishes, 1);
  EXPECT_EQ(target.Samples, expected);
  EXPECT_EQ(join.EmptyPixels(), expectedEmpty);
  EXPECT_GT(expectedEmpty, 0u);
}

TEST(CloudFreeJoin, ADateThatFailsReleasesTheOthers) {
  const uint32_t width = 5, height = 30;
  const TPlacedGrid grid = Grid(width, height);
  const std::vector<uint16_t> samples(size_t{width} * height * 3, 100);
  TRecordingSink target;
  TCloudFreeJoin join(target, {nullptr, nullptr}, grid);
  bool ok = true;
  // Date 0 hands in everything it has and waits for date 1, which hands in one run and fails.
  std::thread first(Push, std::ref(join.Date(0)), std::cref(samples), width, height, 10u, std::ref(ok));
  EXPECT_TRUE(join.Date(1).Put(View(samples, width, 0, 10)));
  join.Abort();
  first.join();
  EXPECT_FALSE(ok);
  EXPECT_FALSE(join.Finish());
  EXPECT_EQ(target.Samples.size(), size_t{width} * 10 * 3);
}
