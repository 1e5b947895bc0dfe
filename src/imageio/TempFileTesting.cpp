#include "TempFileTesting.h"

#include <atomic>

namespace {
std::atomic<int64_t> gWriteLimit{-1};
}  // namespace

namespace tempFileTesting {
void SetWriteLimit(int64_t bytes) { gWriteLimit.store(bytes); }
}  // namespace tempFileTesting

namespace tempFileDetail {
bool TestLimitSet() { return gWriteLimit.load() >= 0; }

bool WithinTestLimit(int64_t offset, size_t size) {
  const int64_t limit = gWriteLimit.load();
  return limit < 0 || (offset >= 0 && offset + static_cast<int64_t>(size) <= limit);
}
}  // namespace tempFileDetail
