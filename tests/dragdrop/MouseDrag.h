// A real OLE drag driven by synthetic mouse input: the left button goes down over a window of
// the calling thread, a second thread moves the mouse in steps and lets the button go, and
// DoDragDrop's own loop follows it.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <thread>

#include "WinTestKit.h"

namespace mousedrag {

inline void PumpFor(DWORD Milliseconds) { wintest::Pump(Milliseconds); }

class DropSource final : public IDropSource {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown || riid == IID_IDropSource ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keys) override {
    if (escape) return DRAGDROP_S_CANCEL;
    return (keys & MK_LBUTTON) ? S_OK : DRAGDROP_S_DROP;
  }
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }
};

inline void SendMouse(DWORD Flags, POINT At = {0, 0}) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = Flags;
  if (Flags & MOUSEEVENTF_ABSOLUTE) {
    in.mi.dx = MulDiv(At.x, 65536, GetSystemMetrics(SM_CXSCREEN));
    in.mi.dy = MulDiv(At.y, 65536, GetSystemMetrics(SM_CYSCREEN));
  }
  SendInput(1, &in, sizeof in);
}

// Presses the left button at From, over a window of this thread so that the thread's own key
// state (which DoDragDrop reads) sees it down; then, from another thread while DoDragDrop runs,
// moves in steps to To and releases it there. Returns DoDragDrop's result and effect.
inline HRESULT Drag(IDataObject* Data, POINT From, POINT To, DWORD* Effect) {
  DropSource source;
  HWND origin = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"drag source", WS_POPUP | WS_VISIBLE, From.x - 20,
                                From.y - 20, 40, 40, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  PumpFor(50);
  SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, From);
  SendMouse(MOUSEEVENTF_LEFTDOWN);
  PumpFor(100);
  std::thread mover([From, To] {
    Sleep(200);
    for (int i = 1; i <= 8; ++i) {
      SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE,
                POINT{From.x + (To.x - From.x) * i / 8, From.y + (To.y - From.y) * i / 8});
      Sleep(60);
    }
    Sleep(250);
    SendMouse(MOUSEEVENTF_LEFTUP);
  });
  const HRESULT hr = DoDragDrop(Data, &source, DROPEFFECT_COPY | DROPEFFECT_MOVE, Effect);
  mover.join();
  DestroyWindow(origin);
  PumpFor(50);
  return hr;
}

}  // namespace mousedrag
