// Runs jobs a few at a time: never more than the slots, and a job only when its estimated peak
// memory fits beside the estimates of those running. A job that would not fit even alone fails
// at once; one that would fit later waits for a running job to end. Jobs start in their order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct TJobPoolCalls {
  // Starts job k; false when it could not be started (it has then reported itself).
  std::function<bool(size_t k)> Start;
  // Waits a little for running jobs; returns those that ended meanwhile.
  std::function<std::vector<size_t>()> Wait;
  // Job k fails unstarted, with the reason.
  std::function<void(size_t k, const std::wstring& why)> Refuse;
  // Memory free now; 0 when the system does not say (then only the slots bound the jobs).
  std::function<uint64_t()> AvailableMemory;
  // True once the batch is to stop: nothing more starts, and Run returns when the running end.
  std::function<bool()> Stopping;
};

// Returns the number of jobs that were never started (after a stop).
size_t RunJobPool(const std::vector<uint64_t>& estimates, unsigned slots, const TJobPoolCalls& calls);

// "Not enough memory: the job needs about 900 MB, 512 MB are free"
std::wstring NotEnoughMemoryText(uint64_t needed, uint64_t available);
