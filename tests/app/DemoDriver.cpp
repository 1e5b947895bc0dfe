// Runs Bandweave.exe on one band file as a user at the screen would, for the demo and the
// benchmark: starts it, reports the status line as it changes and the message box's text,
// presses OK, and closes the window once "Finished" shows. Meanwhile it sends the window a
// message every 100 ms and reports the longest answer, as the shell would see it.
//   bandweave-demo-driver <Bandweave.exe> <band file>
#include <windows.h>

#include <cstdio>
#include <string>

#include "AppDriver.h"

namespace {
// The text as the window holds it, without asking a thread that may be busy with a job.
std::wstring HeldText(HWND w) {
  wchar_t buf[1024] = {};
  int n = InternalGetWindowText(w, buf, 1024);
  return std::wstring(buf, static_cast<size_t>(n > 0 ? n : 0));
}

void Say(const wchar_t* what, const std::wstring& text) {
  std::wstring flat = text;
  for (wchar_t& c : flat)
    if (c == L'\n') c = L'|';
  std::printf("  %ls: %ls\n", what, flat.c_str());
  std::fflush(stdout);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bandweave-demo-driver <Bandweave.exe> <band file>\n");
    return 2;
  }
  try {
    const DWORD launched = GetTickCount();
    appdriver::TProgram p(std::wstring(argv[1]), argv[2]);
    HWND main = p.WaitMainWindow(30000);
    if (!main) {
      std::fprintf(stderr, "the window did not appear\n");
      return 1;
    }
    // No timeout that matters and no giving up on a hung window: the true answer times.
    HWND status = p.StatusLine();
    appdriver::TResponsivenessProbe probe(main, SMTO_NORMAL, 10 * 60 * 1000, status);
    std::wstring last;
    std::wstring message;  // the last box's text: the outcome
    DWORD start = GetTickCount(), lastBox = 0, outcomeShown = 0;
    for (;;) {
      std::wstring now = status ? HeldText(status) : L"";
      if (now != last) Say(L"status", last = now);
      // A failing job shows a box per failure and carries on: answer every one.
      if (HWND box = p.WaitMessageBox(0)) {
        outcomeShown = GetTickCount() - launched;
        message = appdriver::MessageText(box);
        Say(L"message box", message);
        appdriver::PressOk(box);
        for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(10);
        lastBox = GetTickCount();
      }
      if (!message.empty() && now == L"Finished") break;
      // A failure leaves no "Finished": the job is over once no box follows the last one.
      if (!message.empty() && GetTickCount() - lastBox > 5000) break;
      if (GetTickCount() - start > 30 * 60 * 1000) {
        std::fprintf(stderr, "no outcome after 30 minutes\n");
        return 1;
      }
      Sleep(10);
    }
    probe.Stop();
    std::printf("  outcome shown %lu ms after the program started\n", static_cast<unsigned long>(outcomeShown));
    std::printf("  window answered %d probes, worst answer %lu ms, seen hung %d times\n", probe.Probes(),
                static_cast<unsigned long>(probe.WorstMs()), probe.HungSeen());
    Say(L"worst answer during", probe.WorstDuring());
    int code = p.CloseAndWait(30000);
    std::printf("  window closed (exit code %d)\n", code);
    return message.rfind(L"Production of 48-bit", 0) == 0 && code == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
