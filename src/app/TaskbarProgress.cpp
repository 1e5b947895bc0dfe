#include "TaskbarProgress.h"

#include <shobjidl.h>

TTaskbarProgress::~TTaskbarProgress() {
  if (FList) FList->Release();
}

void TTaskbarProgress::Set(HWND Wnd, double Fraction) {
  const int step = !(Fraction >= 0) ? -1 : Fraction >= 1 ? kSteps : static_cast<int>(Fraction * kSteps);
  // The decoder reports every tile; the shell needs to hear only of visible changes.
  if (step == FShown || !Wnd) return;
  if (!FTried) {
    FTried = true;
    void* list = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, &list))) {
      FList = static_cast<ITaskbarList3*>(list);
      if (FAILED(FList->HrInit())) {
        FList->Release();
        FList = nullptr;
      }
    }
  }
  if (!FList) return;
  if (step < 0) {
    FList->SetProgressState(Wnd, TBPF_NOPROGRESS);
  } else {
    if (FShown < 0) FList->SetProgressState(Wnd, TBPF_NORMAL);
    FList->SetProgressValue(Wnd, static_cast<ULONGLONG>(step), kSteps);
  }
  FShown = step;
}
