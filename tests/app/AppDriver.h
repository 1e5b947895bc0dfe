// Drives Bandweave.exe from outside, as a user would: starts it, finds its windows, reads
// their texts, presses buttons, closes it, and reads what it stored in the registry.
#pragma once
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace appdriver {

// Bandweave.exe of this build, as a path Windows accepts.
std::wstring ExePath();

// Deletes the program's registry key (HKCU\Software\Korvane\Bandweave) and everything in it.
void ClearSettings();
// A stored DWORD, or false when absent.
bool ReadSetting(const wchar_t* Name, DWORD& Value);
void WriteSetting(const wchar_t* Name, DWORD Value);

// A fresh folder holding copies of the band files of a generated set (the 300 x 200 tile's
// four by default); empty when the set is missing.
std::filesystem::path CopyTile(const std::wstring& Tag, const char* Set = "tile");

std::wstring WindowText(HWND Wnd);
// Child windows in z-order (creation order).
std::vector<HWND> Children(HWND Parent);
std::wstring ClassOf(HWND Wnd);
// A child window's rectangle in its parent's client coordinates.
RECT ChildRect(HWND Child);

class TProgram {
 public:
  // Starts the program with the given argument (none when Arg is null).
  explicit TProgram(const wchar_t* Arg);
  // The same for another copy of the program.
  TProgram(const std::wstring& Exe, const wchar_t* Arg);
  ~TProgram();  // ends a program that is still running
  TProgram(const TProgram&) = delete;
  TProgram& operator=(const TProgram&) = delete;

  // The main window, once it is visible; null after TimeoutMs.
  HWND WaitMainWindow(DWORD TimeoutMs = 10000);
  // A message box of this process captioned "Bandweave"; null after TimeoutMs.
  HWND WaitMessageBox(DWORD TimeoutMs);
  // Waits until the status line reads Text; false after TimeoutMs.
  bool WaitStatus(const std::wstring& Text, DWORD TimeoutMs);
  std::wstring Status();
  HWND StatusLine();
  HWND ChildByText(const std::wstring& Text);
  // Closes the main window and waits for the process to end; its exit code, or -1.
  int CloseAndWait(DWORD TimeoutMs = 10000);
  DWORD ProcessId() const { return FInfo.dwProcessId; }

 private:
  PROCESS_INFORMATION FInfo{};
  HWND FMain = nullptr;
};

// The text of a message box and its OK press.
std::wstring MessageText(HWND Box);
void PressOk(HWND Box);

// Asks a window every 100 ms, from a thread of its own, whether it still answers: a WM_NULL
// sent with SendMessageTimeout, as the shell does before it calls a window "Not Responding".
class TResponsivenessProbe {
 public:
  // Flags and TimeoutMs go to SendMessageTimeout (SMTO_ABORTIFHUNG gives up at once on a
  // window the system already counts as hung).
  // With Status, the text it held when the longest wait began is kept too.
  TResponsivenessProbe(HWND Wnd, UINT Flags, DWORD TimeoutMs, HWND Status = nullptr);
  ~TResponsivenessProbe();  // stops the thread
  TResponsivenessProbe(const TResponsivenessProbe&) = delete;
  TResponsivenessProbe& operator=(const TResponsivenessProbe&) = delete;
  void Stop();

  int Probes() const { return FProbes; }
  int Unanswered() const { return FUnanswered; }  // timed out, or given up as hung
  int HungSeen() const { return FHungSeen; }      // probes at which IsHungAppWindow was true
  DWORD WorstMs() const { return FWorstMs; }      // the longest answer
  std::wstring WorstDuring();                     // the status text as that wait began

 private:
  void Run();
  HWND FWnd, FStatus;
  UINT FFlags;
  DWORD FTimeoutMs;
  std::atomic<bool> FStop{false};
  std::atomic<int> FProbes{0}, FUnanswered{0}, FHungSeen{0};
  std::atomic<DWORD> FWorstMs{0};
  std::mutex FLock;
  std::wstring FWorstDuring;
  std::thread FThread;
};

}  // namespace appdriver
