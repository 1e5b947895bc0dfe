// Failures on worker threads, under one rule everywhere: the first one is carried, the other
// workers are asked to stop at their next step, and the thread that started them rethrows it
// once they have all ended. What the failure then means (a message, a false) is that thread's
// business, as it is for a failure of its own.
#pragma once
#include <atomic>
#include <exception>
#include <mutex>

class TWorkerFailure {
 public:
  // In a catch block on a worker: keeps the exception being handled unless one came first, and
  // stops the others.
  void Catch() noexcept {
    std::lock_guard<std::mutex> hold(FLock);
    if (!FFirst) FFirst = std::current_exception();
    FStop = true;
  }
  // Runs work on a worker, catching whatever it throws; false when it threw.
  template <typename TWork>
  bool Run(TWork&& work) noexcept {
    try {
      work();
      return true;
    } catch (...) {
      Catch();
      return false;
    }
  }
  // Asks the workers to stop without a failure of theirs (the caller gave up).
  void Stop() noexcept { FStop = true; }
  // Whether a worker should give up at its next step.
  bool Stopped() const noexcept { return FStop; }
  bool Failed() const {
    std::lock_guard<std::mutex> hold(FLock);
    return FFirst != nullptr;
  }
  // On the thread that started the workers: throws the first failure, if there was one.
  void Rethrow() const {
    std::exception_ptr first;
    {
      std::lock_guard<std::mutex> hold(FLock);
      first = FFirst;
    }
    if (first) std::rethrow_exception(first);
  }

 private:
  mutable std::mutex FLock;
  std::exception_ptr FFirst;
  std::atomic<bool> FStop{false};
};
