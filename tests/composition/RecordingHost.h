// A JobHost that logs every call, in order, as one line each, and answers the two settings
// as the test sets them.
#pragma once
#include <string>
#include <vector>

#include "JobHost.h"

class RecordingHost : public JobHost {
 public:
  int SaveFormat = 1;
  bool BeepWhenDone = false;
  std::wstring Status = L"Ready";
  std::wstring Hint;
  std::vector<std::wstring> Calls;
  std::vector<double> Progress;  // apart from Calls: how often it comes is the engine's affair

  static constexpr intptr_t kNormalCursor = 7;

  void SetStatusText(const std::wstring& text) override {
    Calls.push_back(L"status: " + text);
    Status = text;
  }
  std::wstring GetStatusText() override { return Status; }
  void SetStatusHint(const std::wstring& text) override {
    Calls.push_back(L"hint: " + text);
    Hint = text;
  }
  void RepaintNow() override { Calls.push_back(L"repaint"); }
  void ShowModalMessage(const std::wstring& text) override { Calls.push_back(L"box: " + text); }
  void Beep() override { Calls.push_back(L"beep"); }
  intptr_t BeginBusyCursor() override {
    Calls.push_back(L"busy");
    return kNormalCursor;
  }
  void RestoreCursor(intptr_t cursor) override {
    Calls.push_back(cursor == kNormalCursor ? L"restore" : L"restore: wrong cursor");
  }
  int GetSaveFormat() override { return SaveFormat; }
  bool GetBeepWhenDone() override { return BeepWhenDone; }
  void SetProgress(double fraction) override { Progress.push_back(fraction); }

  // The calls that the user sees or hears, without the hint's varying seconds.
  std::vector<std::wstring> Visible() const {
    std::vector<std::wstring> seen;
    for (const auto& call : Calls) seen.push_back(call.rfind(L"hint: ", 0) == 0 ? L"hint" : call);
    return seen;
  }
  int Count(const std::wstring& call) const {
    int n = 0;
    for (const auto& c : Calls) n += c == call;
    return n;
  }
};
