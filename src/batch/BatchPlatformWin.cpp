#include "BatchPlatform.h"

#include <windows.h>
#include <psapi.h>

#include "TextCodec.h"

namespace batchPlatform {
namespace {
volatile LONG gInterrupted = 0;

BOOL WINAPI OnConsoleEvent(DWORD) {
  InterlockedExchange(&gInterrupted, 1);
  return TRUE;  // the batch ends its jobs and then itself
}

std::string LastError() {
  const DWORD code = GetLastError();
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = text ? text : L"error " + std::to_wstring(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.'))
    message.pop_back();
  return ToUtf8(message);
}

// One argument as the C runtime of the child splits its command line again.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring text = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') text.append(backslashes * 2 + 1, L'\\');
    else text.append(backslashes, L'\\');
    backslashes = 0;
    text += c;
  }
  text.append(backslashes * 2, L'\\');
  return text + L"\"";
}

HANDLE OpenInheritable(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &security,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

intptr_t OpenForAppend(const std::wstring& path, std::string& why) {
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than what it points at; a link is
  // then refused by its attributes.
  // Read access only for the lock that AppendWhole takes: without write-data access every
  // write goes to the end.
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    why = LastError();
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    CloseHandle(file);
    why = "it is a link or not a regular file";
    return -1;
  }
  return reinterpret_cast<intptr_t>(file);
}

bool AppendWhole(intptr_t file, const std::string& bytes) {
  // An append is one write, but not every file system (a network share, Wine) finds the end
  // and writes there as one step: the writers of one report take turns under a lock.
  const HANDLE handle = reinterpret_cast<HANDLE>(file);
  OVERLAPPED whole{};
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) return false;
  DWORD written = 0;
  const bool ok = WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
  return ok;
}

void CloseFile(intptr_t file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

std::optional<int64_t> LastWriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return {};
  return (int64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
}

uint64_t AvailableMemoryBytes() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullAvailPhys : 0;
}

std::optional<uint64_t> PeakMemoryOfThisProcess() {
  PROCESS_MEMORY_COUNTERS counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) || counters.PeakWorkingSetSize == 0)
    return {};
  return counters.PeakWorkingSetSize;
}

std::wstring OwnExecutable() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

TChildProcess::~TChildProcess() {
  if (FProcess == -1) return;
  const HANDLE process = reinterpret_cast<HANDLE>(FProcess);
  if (!FEnded) {
    Interrupt();
    if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
  }
  CloseHandle(process);
}

bool TChildProcess::Start(const std::wstring& program, const std::vector<std::wstring>& arguments,
                          const std::wstring& outFile, const std::wstring& errFile, std::string& why) {
  std::wstring commandLine = Quoted(program);
  for (const std::wstring& argument : arguments) commandLine += L" " + Quoted(argument);
  const HANDLE input = OpenInheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
  const HANDLE output = OpenInheritable(outFile, GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE errors = OpenInheritable(errFile, GENERIC_WRITE, CREATE_ALWAYS);
  bool started = false;
  if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE && errors != INVALID_HANDLE_VALUE) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION info{};
    // A process group of its own, so that Ctrl-Break reaches this child alone (Interrupt).
    started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                             nullptr, nullptr, &startup, &info) != 0;
    if (started) {
      CloseHandle(info.hThread);
      FProcess = reinterpret_cast<intptr_t>(info.hProcess);
      FGroup = info.dwProcessId;
    }
  }
  if (!started) why = LastError();
  for (HANDLE handle : {input, output, errors})
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  return started;
}

bool TChildProcess::Poll(TChildExit& exit) {
  if (FProcess == -1 || FEnded) return true;
  const HANDLE process = reinterpret_cast<HANDLE>(FProcess);
  if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return false;
  FEnded = true;
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  // NTSTATUS failures (0xC0000005 and the like) mean a crash rather than an exit.
  if (code >= 0xC0000000u) {
    wchar_t text[32];
    swprintf(text, 32, L"crashed (0x%08lX)", static_cast<unsigned long>(code));
    exit.Abnormal = text;
  } else {
    exit.Code = static_cast<int>(code);
  }
  PROCESS_MEMORY_COUNTERS counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters) && counters.PeakWorkingSetSize > 0)
    exit.PeakMemoryBytes = counters.PeakWorkingSetSize;
  return true;
}

void TChildProcess::Interrupt() {
  if (FProcess != -1 && !FEnded) GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, FGroup);
}

void CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool Interrupted() { return InterlockedCompareExchange(&gInterrupted, 0, 0) != 0; }

int InterruptedStatus() { return 130; }
}  // namespace batchPlatform
