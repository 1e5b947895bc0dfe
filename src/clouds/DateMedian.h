// The cloud-free picture of several dates: per pixel and per band, the median of the dates on
// which the pixel is observed and clear. Worked on by ranges of rows, so that only as many
// rows of every date as the caller hands in are ever held.
#pragma once
#include <cstdint>
#include <vector>

#include "RowView.h"

// One date's rows: its 48-bit samples, and its mask for the same rows (1 masked, 0 clear,
// width bytes a row, rows one after the other), or none when nothing is masked.
struct TDateRows {
  TRowView Samples;
  const uint8_t* Masked = nullptr;
};

// A pixel counts on a date when that date's mask leaves it clear and none of its three bands
// is 0 (no data). Each band of out is the median of the counted dates' samples of that band;
// for an even count the lower of the two middle values, so that every sample was observed on
// some date. A pixel counted on no date is 0, 0, 0. Every date must hold width x height pixels;
// out has 3 samples a pixel and outStride samples from one row to the next. Returns the number
// of pixels counted on no date.
uint64_t MedianOfDates(const std::vector<TDateRows>& dates, uint32_t width, uint32_t height, uint16_t* out,
                       size_t outStride);

// The no-data rule of a masked picture, in place: a pixel that is masked, or any of whose bands
// is 0, becomes 0, 0, 0. rows has 3 samples a pixel and stride samples from row to row; masked
// is as in TDateRows. Returns the number of pixels the mask removed.
uint64_t ApplyMask(uint16_t* rows, uint32_t width, uint32_t height, size_t stride, const uint8_t* masked);
