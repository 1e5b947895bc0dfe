#include "ParallelBlocks.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
using TClock = std::chrono::steady_clock;
constexpr auto kCallbackInterval = std::chrono::milliseconds(50);

struct TBlock {
  std::vector<uint8_t> Bytes;
  bool Ready = false;
  bool Ok = false;
};
}  // namespace

unsigned WorkerCount(unsigned requested) {
  if (requested > 0) return requested;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

bool EncodeBlocksInOrder(size_t count, unsigned workers,
                         const std::function<bool(size_t, std::vector<uint8_t>&)>& encode,
                         const std::function<bool(size_t, std::vector<uint8_t>&)>& consume,
                         const TWorkCallbacks& callbacks) {
  workers = WorkerCount(workers);
  if (workers > count) workers = count > 0 ? static_cast<unsigned>(count) : 1;
  const size_t inFlight = 2 * static_cast<size_t>(workers);

  std::mutex lock;
  std::condition_variable blockDone, slotFree;
  // Block i lives in ring[i % inFlight] from its claim until it is consumed.
  std::vector<TBlock> ring(inFlight);
  size_t consumed = 0, claimed = 0;
  bool stop = false;

  const auto work = [&] {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      slotFree.wait(guard, [&] { return stop || claimed >= count || claimed < consumed + inFlight; });
      if (stop || claimed >= count) return;
      const size_t index = claimed++;
      guard.unlock();
      std::vector<uint8_t> bytes;
      bool ok = false;
      try {
        ok = encode(index, bytes);
      } catch (...) {
        ok = false;  // out of memory in a worker fails the save, not the process
      }
      guard.lock();
      TBlock& block = ring[index % inFlight];
      block.Bytes = std::move(bytes);
      block.Ok = ok;
      block.Ready = true;
      blockDone.notify_all();
    }
  };

  std::vector<std::thread> threads;
  bool started = true;
  try {
    for (unsigned i = 0; i < workers; ++i) threads.emplace_back(work);
  } catch (...) {
    started = !threads.empty();  // fewer threads than asked still finish the work
  }

  bool ok = started;
  auto lastCallback = TClock::now();
  const auto callBack = [&](bool always) {
    if (!always && TClock::now() - lastCallback < kCallbackInterval) return;
    lastCallback = TClock::now();
    if (callbacks.KeepAlive) callbacks.KeepAlive();
  };
  try {
    for (size_t index = 0; ok && index < count; ++index) {
      std::vector<uint8_t> bytes;
      bool encoded;
      {
        std::unique_lock<std::mutex> guard(lock);
        TBlock& block = ring[index % inFlight];
        while (!block.Ready) {
          if (blockDone.wait_for(guard, kCallbackInterval) == std::cv_status::timeout) {
            guard.unlock();
            callBack(true);
            guard.lock();
          }
        }
        bytes = std::move(block.Bytes);
        encoded = block.Ok;
        block = TBlock();
        ++consumed;
        slotFree.notify_all();
      }
      ok = encoded && consume(index, bytes);
      if (callbacks.Progress) callbacks.Progress(index + 1, count);
      callBack(false);
    }
  } catch (...) {
    ok = false;  // a writer or a callback that throws stops the workers before it goes on
  }

  {
    std::lock_guard<std::mutex> guard(lock);
    stop = true;
    slotFree.notify_all();
  }
  for (auto& thread : threads) thread.join();
  return ok;
}
