// Encodes a picture's blocks (TIFF strips, runs of PNG rows) on worker threads while the rows
// still arrive, and hands each result back in order to the thread that feeds the rows, where
// it is written. Memory is bounded by the blocks in flight (twice the workers), not by the
// picture.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "RowSink.h"
#include "WorkerFailure.h"

// The worker count to use for a request of `requested` (0: one per core).
unsigned WorkerCount(unsigned requested);

// A picture cut into blocks of RowsPerBlock rows (the last one shorter): rows are copied into
// the block being filled as they are put, each full block is encoded on a worker, and the
// encoded blocks are consumed in order on the putting thread. The cut depends only on the
// picture's size, so the bytes never depend on how the rows arrive or on the worker count.
class TRowBlocks {
 public:
  // encode(index, rows, out): on a worker, rows is the block as a top-down view (false: failed).
  // consume(index, bytes): on the thread that calls Put or Finish, in order (false: failed).
  // A block that fails or throws stops the workers; what it threw comes to the thread that calls
  // Put or Finish, which then fail.
  using TEncode = std::function<bool(size_t index, const TRowView& rows, std::vector<uint8_t>& out)>;
  using TConsume = std::function<bool(size_t index, std::vector<uint8_t>& bytes)>;

  TRowBlocks(uint32_t width, uint32_t height, uint32_t rowsPerBlock, unsigned workers, TEncode encode,
             TConsume consume);
  ~TRowBlocks();  // stops the workers; blocks not yet consumed are dropped
  TRowBlocks(const TRowBlocks&) = delete;
  TRowBlocks& operator=(const TRowBlocks&) = delete;

  bool Put(const TRowView& rows);
  // After the last row: waits for every block and consumes it. False when not every row came,
  // or anything failed.
  bool Finish();
  size_t Blocks() const { return FBlocks; }

 private:
  struct TSlot {
    std::vector<uint8_t> Bytes;
    bool Ready = false;
    bool Ok = false;
  };
  struct TTask {
    size_t Index;
    std::vector<uint16_t> Samples;
    uint32_t Rows;
  };
  void Work();
  bool Submit();
  // Consumes the blocks that are ready in order; with wait, until at most `keep` are in flight.
  bool ConsumeReady(size_t keep);
  uint32_t RowsOfBlock(size_t index) const;

  const uint32_t FWidth, FHeight, FRowsPerBlock;
  const size_t FBlocks;
  const TEncode FEncode;
  const TConsume FConsume;
  size_t FInFlight = 1;
  std::vector<uint16_t> FFilling;  // the block being filled
  uint32_t FFilled = 0;            // rows in it
  uint32_t FRowsPut = 0;
  size_t FSubmitted = 0, FConsumed = 0;
  bool FFailed = false;

  std::mutex FLock;
  std::condition_variable FWorkReady, FBlockDone;
  std::vector<TTask> FQueue;  // waiting for a worker, in order
  std::vector<TSlot> FRing;   // block i in FRing[i % FInFlight] until consumed
  bool FStop = false;
  TWorkerFailure FFailure;  // the first block that failed stops the rest
  std::vector<std::thread> FThreads;
};
