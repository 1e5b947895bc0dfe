// How much memory a job will hold at its peak, known before it runs from its bands' headers.
// A job whose bands have many code-stream tiles holds two rows of tiles of the composite (6 bytes
// a pixel) and the tiles in flight on each decoding thread; a band of one tile is decoded whole.
// Everything is counted at the resolution the job decodes at (--reduce): the composite at its
// own, the quicklook or preview (held whole) at the quicklook's.
#pragma once
#include <cstdint>

#include "BatchJob.h"
#include "JobPlan.h"

// An area of interest is left out: the estimate is the whole tile's, never less than the
// window's.
uint64_t EstimateJobMemory(const TPlannedJob& job, const TJobSettings& settings, unsigned decodeThreads);

// The same from a picture's size and tiling.
uint64_t EstimateCompositeMemory(uint64_t width, uint64_t height, uint64_t tileWidth, uint64_t tileHeight,
                                 unsigned decodeThreads);
