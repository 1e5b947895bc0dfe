// The composite job's host in a console: status texts as lines on stderr, each message on
// stdout, a beep as BEL on stderr; the settings come from the command line.
#pragma once
#include <cstdio>
#include <string>

#include "JobHost.h"

class ConsoleHost : public JobHost {
 public:
  ConsoleHost(int saveFormat, bool beepWhenDone) : FSaveFormat(saveFormat), FBeepWhenDone(beepWhenDone) {}

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
  std::wstring FStatus;
};

// One line of text to stdout or stderr, in the console's own way where there is one.
void WriteLine(FILE* stream, const std::wstring& text);
