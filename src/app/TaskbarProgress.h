// The job's progress on the window's task-bar button (ITaskbarList3). Where the shell offers no
// task-bar list (older systems, some Wine versions, no COM on the thread) it does nothing.
#pragma once
#include <windows.h>

struct ITaskbarList3;

class TTaskbarProgress {
 public:
  TTaskbarProgress() = default;
  ~TTaskbarProgress();
  TTaskbarProgress(const TTaskbarProgress&) = delete;
  TTaskbarProgress& operator=(const TTaskbarProgress&) = delete;

  // 0.0 to 1.0 shows that share; a negative value takes the bar off the button.
  void Set(HWND Wnd, double Fraction);

 private:
  static constexpr int kSteps = 1000;  // the button cannot show finer steps than this
  ITaskbarList3* FList = nullptr;
  bool FTried = false;  // the task-bar list is asked for once
  int FShown = -1;      // the step on the button, -1 for none
};
