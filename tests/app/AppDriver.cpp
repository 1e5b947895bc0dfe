#include "AppDriver.h"

#include <string>

#include <stdexcept>

#include "TestEnv.h"
#include "WinTestKit.h"

namespace appdriver {
namespace {
const wchar_t kKey[] = L"Software\\Korvane\\Bandweave";

struct FindArgs {
  DWORD Pid;
  const wchar_t* Class;
  const wchar_t* Title;
  HWND Found;
};

BOOL CALLBACK FindTopLevel(HWND w, LPARAM lp) {
  auto* a = reinterpret_cast<FindArgs*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != a->Pid || !IsWindowVisible(w)) return TRUE;
  if (ClassOf(w) != a->Class || WindowText(w) != a->Title) return TRUE;
  a->Found = w;
  return FALSE;
}

HWND FindOfProcess(DWORD pid, const wchar_t* cls, const wchar_t* title) {
  FindArgs a{pid, cls, title, nullptr};
  EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&a));
  return a.Found;
}
}  // namespace

std::wstring ExePath() {
  std::string s = BANDWEAVE_EXE_PATH;
  if (!s.empty() && s[0] == '/') s = "Z:" + s;
  for (char& c : s)
    if (c == '/') c = '\\';
  return std::filesystem::u8path(s).wstring();
}

void ClearSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

bool ReadSetting(const wchar_t* Name, DWORD& Value) {
  DWORD size = sizeof Value, type = 0;
  DWORD v = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kKey, Name, RRF_RT_REG_DWORD, &type, &v, &size) != ERROR_SUCCESS) return false;
  Value = v;
  return true;
}

void WriteSetting(const wchar_t* Name, DWORD Value) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("registry key not created");
  RegSetValueExW(k, Name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Value), sizeof Value);
  RegCloseKey(k);
}

std::filesystem::path CopyTile(const std::wstring& Tag, const char* Set) {
  namespace fs = std::filesystem;
  fs::path src = testenv::TestData() / Set;
  if (!fs::is_directory(src)) return {};
  fs::path dst = fs::temp_directory_path() / (L"bandweave-app-" + Tag + L"-" + std::to_wstring(GetCurrentProcessId()));
  fs::remove_all(dst);
  fs::create_directories(dst);
  for (const char* b : {"B02", "B03", "B04", "B08"}) {
    std::string name = std::string("T33UUP_20250101T101021_") + b + ".jp2";
    if (fs::exists(src / name)) fs::copy_file(src / name, dst / name);
  }
  return dst;
}

std::wstring WindowText(HWND Wnd) {
  wchar_t buf[1024] = {};
  DWORD_PTR n = 0;
  // Through WM_GETTEXT, as an outside reader (a screen reader) asks for it.
  if (!SendMessageTimeoutW(Wnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &n))
    return L"";
  return std::wstring(buf, n);
}

std::vector<HWND> Children(HWND Parent) {
  std::vector<HWND> v;
  for (HWND k = GetWindow(Parent, GW_CHILD); k; k = GetWindow(k, GW_HWNDNEXT)) v.push_back(k);
  return v;
}

std::wstring ClassOf(HWND Wnd) {
  wchar_t cls[128] = {};
  GetClassNameW(Wnd, cls, 128);
  return cls;
}

RECT ChildRect(HWND Child) { return wintest::ChildRect(Child); }

TProgram::TProgram(const wchar_t* Arg) : TProgram(ExePath(), Arg) {}

TProgram::TProgram(const std::wstring& Exe, const wchar_t* Arg) {
  const std::wstring& exe = Exe;
  std::wstring cmd = L"\"" + exe + L"\"";
  if (Arg) cmd += L" \"" + std::wstring(Arg) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  // A loaded machine's Wine now and then refuses a start for a moment: try a few times, and
  // say why when it never starts.
  DWORD error = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &FInfo)) return;
    error = GetLastError();
    Sleep(500);
  }
  throw std::runtime_error("Bandweave.exe did not start (error " + std::to_string(error) + ")");
}

TProgram::~TProgram() {
  if (FInfo.hProcess) {
    if (WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(FInfo.hProcess, 99);
      WaitForSingleObject(FInfo.hProcess, 5000);
    }
    CloseHandle(FInfo.hProcess);
    CloseHandle(FInfo.hThread);
  }
}

HWND TProgram::WaitMainWindow(DWORD TimeoutMs) {
  DWORD start = GetTickCount();
  while (!FMain && GetTickCount() - start < TimeoutMs) {
    FMain = FindOfProcess(FInfo.dwProcessId, L"TFormBandweave", L"Bandweave");
    if (!FMain) Sleep(20);
  }
  return FMain;
}

HWND TProgram::WaitMessageBox(DWORD TimeoutMs) {
  DWORD start = GetTickCount();
  do {
    if (HWND b = FindOfProcess(FInfo.dwProcessId, L"#32770", L"Bandweave")) return b;
    Sleep(20);
  } while (GetTickCount() - start < TimeoutMs);
  return nullptr;
}

HWND TProgram::StatusLine() {
  if (!WaitMainWindow()) return nullptr;
  for (HWND k : Children(FMain))
    if (ClassOf(k) == L"Static") return k;
  return nullptr;
}

std::wstring TProgram::Status() {
  HWND s = StatusLine();
  return s ? WindowText(s) : L"";
}

bool TProgram::WaitStatus(const std::wstring& Text, DWORD TimeoutMs) {
  DWORD start = GetTickCount();
  do {
    if (Status() == Text) return true;
    Sleep(20);
  } while (GetTickCount() - start < TimeoutMs);
  return false;
}

HWND TProgram::ChildByText(const std::wstring& Text) {
  if (!WaitMainWindow()) return nullptr;
  std::vector<HWND> todo = Children(FMain);
  while (!todo.empty()) {
    HWND w = todo.back();
    todo.pop_back();
    if (WindowText(w) == Text) return w;
    for (HWND k : Children(w)) todo.push_back(k);
  }
  return nullptr;
}

int TProgram::CloseAndWait(DWORD TimeoutMs) {
  if (FMain) PostMessageW(FMain, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(FInfo.hProcess, TimeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(FInfo.hProcess, &code);
  return static_cast<int>(code);
}

std::wstring MessageText(HWND Box) {
  // The message box's text is the static with id 0xFFFF.
  HWND s = GetDlgItem(Box, 0xFFFF);
  return s ? WindowText(s) : L"";
}

void PressOk(HWND Box) {
  // The OK button's own notification, as a click on it sends.
  PostMessageW(Box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(Box, IDOK)));
}

TResponsivenessProbe::TResponsivenessProbe(HWND Wnd, UINT Flags, DWORD TimeoutMs, HWND Status)
    : FWnd(Wnd), FStatus(Status), FFlags(Flags), FTimeoutMs(TimeoutMs), FThread([this] { Run(); }) {}

std::wstring TResponsivenessProbe::WorstDuring() {
  std::lock_guard<std::mutex> hold(FLock);
  return FWorstDuring;
}

TResponsivenessProbe::~TResponsivenessProbe() { Stop(); }

void TResponsivenessProbe::Stop() {
  FStop = true;
  if (FThread.joinable()) FThread.join();
}

void TResponsivenessProbe::Run() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  while (!FStop && IsWindow(FWnd)) {
    if (IsHungAppWindow(FWnd)) ++FHungSeen;
    // Read without asking the window's thread, which may be busy.
    wchar_t status[256] = {};
    if (FStatus) InternalGetWindowText(FStatus, status, 256);
    LARGE_INTEGER start{}, end{};
    QueryPerformanceCounter(&start);
    DWORD_PTR result = 0;
    const bool answered = SendMessageTimeoutW(FWnd, WM_NULL, 0, 0, FFlags, FTimeoutMs, &result) != 0;
    QueryPerformanceCounter(&end);
    // A window destroyed meanwhile is no failure to answer.
    if (!answered && IsWindow(FWnd)) ++FUnanswered;
    const DWORD ms = static_cast<DWORD>((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
    if (ms > FWorstMs) {
      FWorstMs = ms;
      std::lock_guard<std::mutex> hold(FLock);
      FWorstDuring = status;
    }
    ++FProbes;
    Sleep(100);
  }
}

}  // namespace appdriver
