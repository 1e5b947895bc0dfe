#include "DateMedian.h"

#include <algorithm>

namespace {
// A handful of dates: insertion sort beats anything cleverer at this size.
uint16_t LowerMedian(uint16_t* values, size_t count) {
  for (size_t i = 1; i < count; ++i) {
    const uint16_t v = values[i];
    size_t j = i;
    for (; j > 0 && values[j - 1] > v; --j) values[j] = values[j - 1];
    values[j] = v;
  }
  return values[(count - 1) / 2];
}
}  // namespace

uint64_t MedianOfDates(const std::vector<TDateRows>& dates, uint32_t width, uint32_t height, uint16_t* out,
                       size_t outStride) {
  std::vector<uint16_t> values[3];
  for (auto& band : values) band.resize(dates.size());
  uint64_t empty = 0;
  for (uint32_t y = 0; y < height; ++y) {
    uint16_t* target = out + y * outStride;
    for (uint32_t x = 0; x < width; ++x) {
      size_t count = 0;
      for (const TDateRows& date : dates) {
        if (date.Masked && date.Masked[static_cast<size_t>(y) * width + x]) continue;
        const uint16_t* pixel = date.Samples.Row(y) + 3 * static_cast<size_t>(x);
        if (!pixel[0] || !pixel[1] || !pixel[2]) continue;
        for (int c = 0; c < 3; ++c) values[c][count] = pixel[c];
        ++count;
      }
      uint16_t* result = target + 3 * static_cast<size_t>(x);
      if (count == 0) {
        result[0] = result[1] = result[2] = 0;
        ++empty;
        continue;
      }
      for (int c = 0; c < 3; ++c) result[c] = LowerMedian(values[c].data(), count);
    }
  }
  return empty;
}

uint64_t ApplyMask(uint16_t* rows, uint32_t width, uint32_t height, size_t stride, const uint8_t* masked) {
  uint64_t removed = 0;
  for (uint32_t y = 0; y < height; ++y) {
    uint16_t* pixel = rows + y * stride;
    const uint8_t* mask = masked + static_cast<size_t>(y) * width;
    for (uint32_t x = 0; x < width; ++x, pixel += 3) {
      const bool hidden = mask[x] != 0;
      removed += hidden;
      if (hidden || !pixel[0] || !pixel[1] || !pixel[2]) pixel[0] = pixel[1] = pixel[2] = 0;
    }
  }
  return removed;
}
