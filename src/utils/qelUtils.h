// qelUtils: the precise UTC clock as a day count, and KeepAlive for long work on the GUI thread.
#pragma once
#include <cstdint>

#if defined(_WIN32)
#define QEL_STDCALL __stdcall
#else
#define QEL_STDCALL
#endif

// Days since 1899-12-30 00:00 UTC; the fraction is the time of day.
// The difference of two day counts times 86400.0 gives seconds.
using TDayCount = double;

// 100-ns ticks since 1601-01-01 00:00 UTC (a FILETIME as one signed 64-bit number) to a day count.
TDayCount FileTimeToDays(int64_t ticks);

// The current UTC time as a day count.
TDayCount NowUTC();

// Lets the window system see the GUI thread polling its queue during long work: at most one
// look at the queue (PM_NOREMOVE, nothing dispatched) per step of the system tick counter.
void KeepAlive();

// Optional entry points bound at start-up; null where the system lacks them. Nothing in the
// program calls them, they are offered as bound.
using TDwmEnableComposition = long(QEL_STDCALL*)(unsigned int);
using TDwmIsCompositionEnabled = long(QEL_STDCALL*)(int*);
using TGetTickCount64 = unsigned long long(QEL_STDCALL*)();
extern TDwmEnableComposition DwmEnableCompositionEntry;
extern TDwmIsCompositionEnabled DwmIsCompositionEnabledEntry;
extern TGetTickCount64 GetTickCount64Entry;

// Module start-up and shut-down; the program runs them once, in its explicit start-up order.
void qelUtilsInitialize();
void qelUtilsFinalize();

namespace qelUtilsTesting {
// The system calls KeepAlive relies on, replaceable so that tests can count peeks against a
// tick counter they control. Passing nulls restores the real ones.
using TickSource = uint32_t (*)();
using PeekHook = void (*)();
void SetKeepAliveHooks(TickSource tick, PeekHook peek);
// The system time NowUTC reads, as a tick count, so that tests can fix the time stamps a job
// takes. Passing null restores the real clock.
using ClockSource = int64_t (*)();
void SetClockHook(ClockSource clock);
uint32_t LastTick();
void ResetLastTick();
}  // namespace qelUtilsTesting
