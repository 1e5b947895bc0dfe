// qelUtils natively: the real-time clock as a FILETIME-style tick count; there is no
// message queue to look at.
#include <ctime>

#include "qelUtils.h"
#include "qelUtilsPlatform.h"

TDwmEnableComposition DwmEnableCompositionEntry = nullptr;
TDwmIsCompositionEnabled DwmIsCompositionEnabledEntry = nullptr;
TGetTickCount64 GetTickCount64Entry = nullptr;

void qelUtilsInitialize() {}
void qelUtilsFinalize() {}

namespace qelUtilsPlatform {
namespace {
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;  // 1970-01-01 in 100-ns ticks since 1601
}
int64_t SystemTimeTicks() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return kUnixEpochTicks + static_cast<int64_t>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100;
}

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}

void PeekQueue() {}
}  // namespace qelUtilsPlatform
