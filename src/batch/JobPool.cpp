#include "JobPool.h"

#include <algorithm>
#include <map>

namespace {
std::wstring Megabytes(uint64_t bytes) { return std::to_wstring((bytes + (1u << 20) - 1) >> 20) + L" MB"; }
}  // namespace

std::wstring NotEnoughMemoryText(uint64_t needed, uint64_t available) {
  return L"Not enough memory: the job needs about " + Megabytes(needed) + L", " + Megabytes(available) + L" are free";
}

size_t RunJobPool(const std::vector<uint64_t>& estimates, unsigned slots, const TJobPoolCalls& calls) {
  slots = std::max(1u, slots);
  std::map<size_t, uint64_t> running;  // job -> its estimate
  // What was free while none of ours ran: the estimates of running jobs are counted against it,
  // since a job that has just started has not taken its memory yet.
  uint64_t idleFree = calls.AvailableMemory();
  size_t next = 0;
  while (next < estimates.size() || !running.empty()) {
    while (next < estimates.size() && running.size() < slots && !calls.Stopping()) {
      const uint64_t needed = estimates[next];
      const uint64_t freeNow = running.empty() ? idleFree : calls.AvailableMemory();
      if (idleFree != 0 && needed > 0) {
        if (running.empty() && needed > freeNow) {
          calls.Refuse(next, NotEnoughMemoryText(needed, freeNow));
          ++next;
          continue;
        }
        uint64_t promised = 0;
        for (const auto& job : running) promised += job.second;
        if (!running.empty() && (needed + promised > idleFree || needed > freeNow)) break;  // wait for one to end
      }
      if (calls.Start(next)) running.emplace(next, needed);
      ++next;
    }
    if (running.empty()) {
      if (calls.Stopping() || next >= estimates.size()) break;
      continue;
    }
    for (size_t ended : calls.Wait()) running.erase(ended);
    if (running.empty()) idleFree = calls.AvailableMemory();
  }
  return estimates.size() - next;
}
