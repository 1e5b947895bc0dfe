// The portable half of qelUtils: day-count arithmetic and the KeepAlive throttle.
#include "qelUtils.h"
#include "qelUtilsPlatform.h"

namespace {
constexpr double kTicksPerDay = 864000000000.0;  // 100-ns ticks in a day
constexpr double kDayOf1601 = -109205.0;          // 1601-01-01 as days since 1899-12-30

uint32_t gLastTick = 0;  // written only by KeepAlive; 0 at program start
qelUtilsTesting::TickSource gTick = nullptr;
qelUtilsTesting::PeekHook gPeek = nullptr;
qelUtilsTesting::ClockSource gClockSource = nullptr;

uint32_t ReadTick() { return gTick ? gTick() : qelUtilsPlatform::TickCount(); }
void Peek() { gPeek ? gPeek() : qelUtilsPlatform::PeekQueue(); }
}  // namespace

TDayCount FileTimeToDays(int64_t ticks) {
  // Divide first, then add: the order fixes the rounding that every time stamp shares.
  return static_cast<double>(ticks) / kTicksPerDay + kDayOf1601;
}

TDayCount NowUTC() {
  return FileTimeToDays(gClockSource ? gClockSource() : qelUtilsPlatform::SystemTimeTicks());
}

void KeepAlive() {
  // Only equality is tested, so a wrap of the 32-bit counter does no harm.
  if (ReadTick() == gLastTick) return;
  Peek();
  gLastTick = ReadTick();
}

namespace qelUtilsTesting {
void SetKeepAliveHooks(TickSource tick, PeekHook peek) {
  gTick = tick;
  gPeek = peek;
}
void SetClockHook(ClockSource clock) { gClockSource = clock; }
uint32_t LastTick() { return gLastTick; }
void ResetLastTick() { gLastTick = 0; }
}  // namespace qelUtilsTesting
