// The composite job's host in a console: status texts as lines on stderr, each message on
// stdout, a beep as BEL on stderr; the settings come from the command line. When stderr is a
// terminal the job's progress is a bar on its last line, cleared before every other line.
#pragma once
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CompositeJob.h"
#include "JobHost.h"

// Whether stderr is a terminal (a console window on Windows) rather than a file or pipe.
bool StderrIsTerminal();

class ConsoleHost : public JobHost {
 public:
  // With times, each status line starts with the seconds since the host was made.
  ConsoleHost(int saveFormat, bool beepWhenDone, bool times = false, bool progressBar = StderrIsTerminal())
      : FSaveFormat(saveFormat), FBeepWhenDone(beepWhenDone), FTimes(times), FProgressBar(progressBar) {}
  ~ConsoleHost() override { ClearBar(); }

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
  void SetProgress(double fraction) override;
  void NoteWay(const std::wstring& text) override;  // a stamped line with --times only
  const TMaskClasses* GetMaskClasses() override { return FMask ? &*FMask : nullptr; }
  std::wstring GetOutputFolder() override { return FOutputFolder; }
  std::string GetOutputSoftware() override { return FSoftware; }

  void SetOutputs(const std::wstring& folder, const std::string& software) {
    FOutputFolder = folder;
    FSoftware = software;
  }
  void SetMaskClasses(const std::optional<TMaskClasses>& classes) { FMask = classes; }
  // The share of the picture the mask removed, once a masked composite is saved.
  std::optional<double> MaskedFraction() const { return FMaskedFraction; }
  // Every message the job showed, in order.
  const std::vector<std::wstring>& Messages() const { return FMessages; }
  void NoteMasked(uint64_t maskedPixels, uint64_t pixels) override;  // "masked: 41.73 % of pixels"
  // What is made from the bands once the composite is saved (the quicklook and world files).
  using TSavedHandler = std::function<void(const TBandNames& names, const std::wstring& composite)>;
  void OnCompositeSaved(TSavedHandler handler) { FOnSaved = std::move(handler); }
  void CompositeSaved(const std::wstring& red, const std::wstring& green, const std::wstring& blue,
                      const std::wstring& composite) override;

 private:
  // A whole line, with the bar taken off first and put back after.
  void Line(FILE* stream, const std::wstring& text);
  std::wstring Stamp() const;  // "[   1.234 s] ": the seconds since the host was made
  void DrawBar();
  void ClearBar();

  int FSaveFormat;
  bool FBeepWhenDone;
  bool FTimes;
  bool FProgressBar;
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
  std::wstring FStatus;
  std::wstring FOutputFolder;
  std::string FSoftware;
  std::vector<std::wstring> FMessages;
  std::optional<TMaskClasses> FMask;
  std::optional<double> FMaskedFraction;
  TSavedHandler FOnSaved;
  double FFraction = -1;      // the job's progress, negative for none
  std::string FDrawn;         // the bar as it stands on the terminal, empty when not shown
  std::chrono::steady_clock::time_point FDrawnAt;
};

// One line of text to stdout or stderr, in the console's own way where there is one.
void WriteLine(FILE* stream, const std::wstring& text);
// Text as it is, no line end added.
void WriteText(FILE* stream, const std::wstring& text);

// The tool's own complaint about a job ("bandweave-cli: " and the text on stderr), kept for
// the job's report.
void ToolError(const std::wstring& text);
const std::vector<std::wstring>& ToolErrors();
