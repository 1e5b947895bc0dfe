// Encodes a picture's blocks (TIFF strips, runs of PNG rows) on worker threads and hands each
// result to the calling thread in order, where it is written. The calling thread also runs
// the keep-alive and progress callbacks, at least every ~100 ms. Memory is bounded by the
// blocks in flight (twice the workers), not by the picture.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "WorkCallbacks.h"

// The worker count to use for a request of `requested` (0: one per core).
unsigned WorkerCount(unsigned requested);

// encode(index, out) fills out with block index's bytes (on a worker; false: failed);
// consume(index, bytes) takes them on the calling thread, in order (false: stop).
// True when every block was encoded and consumed. Output never depends on the worker count.
bool EncodeBlocksInOrder(size_t count, unsigned workers,
                         const std::function<bool(size_t index, std::vector<uint8_t>& out)>& encode,
                         const std::function<bool(size_t index, std::vector<uint8_t>& bytes)>& consume,
                         const TWorkCallbacks& callbacks);
