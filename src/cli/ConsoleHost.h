// The composite job's host in a console: status texts as lines on stderr, each message on
// stdout, a beep as BEL on stderr; the settings come from the command line.
#pragma once
#include <chrono>
#include <cstdio>
#include <string>

#include "JobHost.h"

class ConsoleHost : public JobHost {
 public:
  // With times, each status line starts with the seconds since the host was made.
  ConsoleHost(int saveFormat, bool beepWhenDone, bool times = false)
      : FSaveFormat(saveFormat), FBeepWhenDone(beepWhenDone), FTimes(times) {}

  void SetStatusText(const std::wstring& text) override;
  std::wstring GetStatusText() override { return FStatus; }
  void SetStatusHint(const std::wstring& text) override;
  void RepaintNow() override {}
  void ShowModalMessage(const std::wstring& text) override;
  void Beep() override;
  intptr_t BeginBusyCursor() override { return 0; }
  void RestoreCursor(intptr_t) override {}
  int GetSaveFormat() override { return FSaveFormat; }
  bool GetBeepWhenDone() override { return FBeepWhenDone; }

 private:
  int FSaveFormat;
  bool FBeepWhenDone;
  bool FTimes;
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
  std::wstring FStatus;
};

// One line of text to stdout or stderr, in the console's own way where there is one.
void WriteLine(FILE* stream, const std::wstring& text);
