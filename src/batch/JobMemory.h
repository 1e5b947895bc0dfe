// How much memory a job will hold at its peak, known before it runs from its bands' headers.
// A job whose bands have many code-stream tiles holds two rows of tiles of the composite (6 bytes
// a pixel) and the tiles in flight on each decoding thread; a band of one tile is decoded whole.
#pragma once
#include <cstdint>

#include "JobPlan.h"

uint64_t EstimateJobMemory(const TPlannedJob& job, unsigned decodeThreads);

// The same from a picture's size and tiling.
uint64_t EstimateCompositeMemory(uint64_t width, uint64_t height, uint64_t tileWidth, uint64_t tileHeight,
                                 unsigned decodeThreads);
