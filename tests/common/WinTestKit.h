// Small helpers shared by the tests that drive real windows.
#pragma once
#include <windows.h>

namespace wintest {
// Serves this thread's messages for about Ms milliseconds.
inline void Pump(DWORD Ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= Ms) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, Ms - spent, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

// A child window's rectangle in its parent's client coordinates.
inline RECT ChildRect(HWND Child) {
  RECT r{};
  GetWindowRect(Child, &r);
  MapWindowPoints(nullptr, GetParent(Child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}
}  // namespace wintest
