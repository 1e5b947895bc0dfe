// How much memory a job will hold at its peak, known before it runs from its bands' headers.
// Today a job holds the whole composite (FIT_RGB16: 6 bytes a pixel) and, while it decodes a
// band, the tiles in flight on each decoding thread; when the composite is no longer held whole
// this is the one place that says so.
#pragma once
#include <cstdint>

#include "JobPlan.h"

uint64_t EstimateJobMemory(const TPlannedJob& job, unsigned decodeThreads);

// The same from a picture's size and tiling.
uint64_t EstimateCompositeMemory(uint64_t width, uint64_t height, uint64_t tileWidth, uint64_t tileHeight,
                                 unsigned decodeThreads);
