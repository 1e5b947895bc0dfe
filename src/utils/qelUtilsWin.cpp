// qelUtils on Windows: the libraries and entry points bound at start-up, the precise clock
// with its fallback, and the queue peek.
#include <windows.h>

#include "qelUtils.h"
#include "qelUtilsPlatform.h"

TDwmEnableComposition DwmEnableCompositionEntry = nullptr;
TDwmIsCompositionEnabled DwmIsCompositionEnabledEntry = nullptr;
TGetTickCount64 GetTickCount64Entry = nullptr;

namespace {
using TClockFunction = void(WINAPI*)(LPFILETIME);
HMODULE gDwmLibrary = nullptr;
HMODULE gKernelLibrary = nullptr;
TClockFunction gClock = nullptr;

template <typename T>
T Bind(HMODULE library, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}
}  // namespace

void qelUtilsInitialize() {
  gDwmLibrary = LoadLibraryW(L"DWMAPI.dll");
  if (gDwmLibrary) {
    DwmEnableCompositionEntry = Bind<TDwmEnableComposition>(gDwmLibrary, "DwmEnableComposition");
    DwmIsCompositionEnabledEntry = Bind<TDwmIsCompositionEnabled>(gDwmLibrary, "DwmIsCompositionEnabled");
  }
  gKernelLibrary = LoadLibraryW(L"kernel32.dll");
  if (!gKernelLibrary) return;
  gClock = Bind<TClockFunction>(gKernelLibrary, "GetSystemTimePreciseAsFileTime");
  if (!gClock) gClock = Bind<TClockFunction>(gKernelLibrary, "GetSystemTimeAsFileTime");
  GetTickCount64Entry = Bind<TGetTickCount64>(gKernelLibrary, "GetTickCount64");
}

void qelUtilsFinalize() {
  if (gKernelLibrary) FreeLibrary(gKernelLibrary);
  if (gDwmLibrary) FreeLibrary(gDwmLibrary);
  gKernelLibrary = nullptr;
  gDwmLibrary = nullptr;
}

namespace qelUtilsPlatform {
int64_t SystemTimeTicks() {
  FILETIME ft{};
  // kernel32 is in every Windows process; should start-up not have run, ask it directly
  // rather than report a time of zero.
  if (gClock)
    gClock(&ft);
  else
    GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  return static_cast<int64_t>(t.QuadPart);
}

uint32_t TickCount() { return GetTickCount(); }

void PeekQueue() {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
}
}  // namespace qelUtilsPlatform
