// Drives Bandweave.exe from outside, as a user would: starts it, finds its windows, reads
// their texts, presses buttons, closes it, and reads what it stored in the registry.
#pragma once
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace appdriver {

// Bandweave.exe of this build, as a path Windows accepts.
std::wstring ExePath();

// Deletes the program's registry key (HKCU\Software\Korvane\Bandweave) and everything in it.
void ClearSettings();
// A stored DWORD, or false when absent.
bool ReadSetting(const wchar_t* Name, DWORD& Value);
void WriteSetting(const wchar_t* Name, DWORD Value);

// A fresh folder holding copies of the generated tile's four band files.
std::filesystem::path CopyTile(const std::wstring& Tag);

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

}  // namespace appdriver
