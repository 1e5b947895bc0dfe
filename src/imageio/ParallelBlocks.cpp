#include "ParallelBlocks.h"

#include <algorithm>
#include <cstring>
#include <new>

unsigned WorkerCount(unsigned requested) {
  if (requested > 0) return requested;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

TRowBlocks::TRowBlocks(uint32_t width, uint32_t height, uint32_t rowsPerBlock, unsigned workers, TEncode encode,
                       TConsume consume)
    : FWidth(width),
      FHeight(height),
      FRowsPerBlock(std::max(1u, rowsPerBlock)),
      FBlocks(height == 0 ? 0 : (size_t{height} + FRowsPerBlock - 1) / FRowsPerBlock),
      FEncode(std::move(encode)),
      FConsume(std::move(consume)) {
  workers = static_cast<unsigned>(std::min<size_t>(WorkerCount(workers), std::max<size_t>(FBlocks, 1)));
  FInFlight = 2 * static_cast<size_t>(workers);
  FRing.resize(FInFlight);
  try {
    for (unsigned i = 0; i < workers; ++i) FThreads.emplace_back(&TRowBlocks::Work, this);
  } catch (...) {
    // Fewer threads than asked still finish the work; none at all fails the picture.
    if (FThreads.empty()) FFailed = true;
  }
}

TRowBlocks::~TRowBlocks() {
  {
    std::lock_guard<std::mutex> hold(FLock);
    FStop = true;
  }
  FWorkReady.notify_all();
  for (auto& thread : FThreads) thread.join();
}

uint32_t TRowBlocks::RowsOfBlock(size_t index) const {
  const uint64_t first = uint64_t{FRowsPerBlock} * index;
  return static_cast<uint32_t>(std::min<uint64_t>(FRowsPerBlock, FHeight - first));
}

void TRowBlocks::Work() {
  std::unique_lock<std::mutex> hold(FLock);
  for (;;) {
    FWorkReady.wait(hold, [&] { return FStop || !FQueue.empty(); });
    if (FStop) return;
    TTask task = std::move(FQueue.front());
    FQueue.erase(FQueue.begin());
    hold.unlock();
    std::vector<uint8_t> bytes;
    bool ok = false;
    // Once a block has failed, so has the picture: the blocks behind it are not encoded.
    if (!FFailure.Stopped()) {
      const bool ran = FFailure.Run([&] {
        TRowView rows;
        rows.Top = reinterpret_cast<const uint8_t*>(task.Samples.data());
        rows.Stride = static_cast<ptrdiff_t>(FWidth) * 6;
        rows.Width = FWidth;
        rows.Height = task.Rows;
        ok = FEncode(task.Index, rows, bytes);
      });
      if (ran && !ok) FFailure.Stop();
    }
    task.Samples = std::vector<uint16_t>();
    hold.lock();
    TSlot& slot = FRing[task.Index % FInFlight];
    slot.Bytes = std::move(bytes);
    slot.Ok = ok;
    slot.Ready = true;
    FBlockDone.notify_all();
  }
}

bool TRowBlocks::ConsumeReady(size_t keep) {
  for (;;) {
    std::vector<uint8_t> bytes;
    bool ok;
    {
      std::unique_lock<std::mutex> hold(FLock);
      if (FConsumed == FSubmitted) return true;
      if (FSubmitted - FConsumed <= keep && !FRing[FConsumed % FInFlight].Ready) return true;
      TSlot& slot = FRing[FConsumed % FInFlight];
      FBlockDone.wait(hold, [&] { return slot.Ready; });
      bytes = std::move(slot.Bytes);
      ok = slot.Ok;
      slot = TSlot();
    }
    if (!ok) {
      FFailure.Rethrow();
      return false;
    }
    if (!FConsume(FConsumed, bytes)) return false;
    std::lock_guard<std::mutex> hold(FLock);
    ++FConsumed;
  }
}

bool TRowBlocks::Submit() {
  // A slot must be free: the oldest block in flight is written first when all are taken.
  if (!ConsumeReady(FInFlight - 1)) return false;
  {
    std::lock_guard<std::mutex> hold(FLock);
    FQueue.push_back(TTask{FSubmitted, std::move(FFilling), FFilled});
    ++FSubmitted;
  }
  FWorkReady.notify_one();
  FFilling = std::vector<uint16_t>();
  FFilled = 0;
  return true;
}

bool TRowBlocks::Put(const TRowView& rows) {
  if (FFailed) return false;
  try {
    if (rows.Width != FWidth || uint64_t{FRowsPut} + rows.Height > FHeight || (rows.Height > 0 && !rows.Top))
      return FFailed = true, false;
    const size_t rowSamples = size_t{FWidth} * 3;
    for (uint32_t y = 0; y < rows.Height; ++y) {
      if (FFilled == 0) FFilling.resize(rowSamples * RowsOfBlock(FSubmitted));
      std::memcpy(FFilling.data() + rowSamples * FFilled, rows.Row(y), rowSamples * 2);
      ++FRowsPut;
      if (++FFilled == RowsOfBlock(FSubmitted) && !Submit()) return FFailed = true, false;
    }
    // Whatever is finished by now goes out, so that the file grows while the rows come.
    if (!ConsumeReady(FInFlight)) return FFailed = true, false;
    return true;
  } catch (...) {
    return FFailed = true, false;  // out of memory for a block, here or on a worker; a writer that threw
  }
}

bool TRowBlocks::Finish() {
  if (FFailed || FRowsPut != FHeight || FFilled != 0) return false;
  try {
    if (!ConsumeReady(0)) return FFailed = true, false;
  } catch (...) {
    return FFailed = true, false;
  }
  return FConsumed == FBlocks;
}
