// What qelUtils needs of the system; one implementation per platform.
#pragma once
#include <cstdint>

namespace qelUtilsPlatform {
int64_t SystemTimeTicks();  // UTC as 100-ns ticks since 1601-01-01
uint32_t TickCount();       // milliseconds since system start, wrapping
void PeekQueue();           // look at the calling thread's queue without removing anything
}  // namespace qelUtilsPlatform
