// Failures on worker threads: the first reaches the thread that started them, the others stop,
// and the block encoder's callers see it as a failed picture.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ParallelBlocks.h"
#include "WorkerFailure.h"

namespace {
struct TMarked : std::runtime_error {
  explicit TMarked(int worker) : std::runtime_error("worker " + std::to_string(worker)), Worker(worker) {}
  int Worker;
};
}  // namespace

TEST(WorkerFailure, TheFirstFailureReachesTheCallerAndStopsTheOthers) {
  TWorkerFailure failure;
  std::atomic<int> stepsAfterStop{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&, w] {
      failure.Run([&] {
        if (w == 0) throw TMarked(w);
        // The others work on until asked to stop, and then take no further step; worker 2 fails
        // too, after the first failure, and must not take its place.
        while (!failure.Stopped()) std::this_thread::yield();
        if (w == 2) throw TMarked(w);
        if (!failure.Stopped()) ++stepsAfterStop;
      });
    });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_TRUE(failure.Failed());
  EXPECT_EQ(stepsAfterStop, 0);
  try {
    failure.Rethrow();
    FAIL() << "no failure rethrown";
  } catch (const TMarked& marked) {
    EXPECT_EQ(marked.Worker, 0);
  }
  // A stop without a failure rethrows nothing.
  TWorkerFailure stopped;
  stopped.Stop();
  EXPECT_TRUE(stopped.Stopped());
  EXPECT_FALSE(stopped.Failed());
  EXPECT_NO_THROW(stopped.Rethrow());
}

TEST(WorkerFailure, ABlockThatThrowsFailsThePictureAndStopsTheEncoding) {
  constexpr uint32_t kWidth = 4, kBlocks = 200;
  for (bool outOfMemory : {true, false}) {
    SCOPED_TRACE(outOfMemory ? "out of memory" : "another exception");
    std::atomic<uint32_t> encoded{0};
    uint32_t consumed = 0;
    TRowBlocks blocks(
        kWidth, kBlocks, 1, 2,
        [&](size_t index, const TRowView&, std::vector<uint8_t>& out) {
          if (index == 3) {
            if (outOfMemory) throw std::bad_alloc();
            throw std::runtime_error("encoder");
          }
          ++encoded;
          out.assign(1, uint8_t(index));
          return true;
        },
        [&](size_t index, std::vector<uint8_t>& bytes) {
          EXPECT_EQ(bytes.at(0), uint8_t(index));
          ++consumed;
          return true;
        });
    std::vector<uint16_t> row(size_t{kWidth} * 3, 7);
    TRowView view;
    view.Top = reinterpret_cast<const uint8_t*>(row.data());
    view.Stride = static_cast<ptrdiff_t>(kWidth) * 6;
    view.Width = kWidth;
    view.Height = 1;
    bool allPut = true;
    for (uint32_t y = 0; y < kBlocks && allPut; ++y) allPut = blocks.Put(view);
    EXPECT_FALSE(allPut && blocks.Finish());
    // Nothing from the failed block on is written, and the encoding stopped long before the end.
    // A block before it may go unwritten too: a worker that took it only after the failure skips
    // it, and the picture fails either way.
    EXPECT_LE(consumed, 3u);
    EXPECT_LT(encoded.load(), kBlocks / 2);
    // Once failed, it stays failed.
    EXPECT_FALSE(blocks.Put(view));
    EXPECT_FALSE(blocks.Finish());
  }
}
