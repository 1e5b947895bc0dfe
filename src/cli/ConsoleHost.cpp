#include "ConsoleHost.h"

#if defined(_WIN32)
#include <windows.h>
#include <io.h>
#endif

#include "TextCodec.h"

void WriteLine(FILE* stream, const std::wstring& text) {
#if defined(_WIN32)
  // A console shows UTF-16 as it is; a pipe or file gets UTF-8 like everywhere else.
  const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    std::fflush(stream);
    const std::wstring line = text + L"\r\n";
    DWORD written = 0;
    WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
#endif
  const std::string bytes = ToUtf8(text) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

void ConsoleHost::SetStatusText(const std::wstring& text) {
  FStatus = text;
  if (!FTimes) {
    WriteLine(stderr, text);
    return;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%8.3f s] ", seconds);
  WriteLine(stderr, std::wstring(stamp, stamp + std::char_traits<char>::length(stamp)) + text);
}

void ConsoleHost::SetStatusHint(const std::wstring& text) { WriteLine(stderr, text); }

void ConsoleHost::ShowModalMessage(const std::wstring& text) { WriteLine(stdout, text); }

void ConsoleHost::Beep() {
  std::fputc('\a', stderr);
  std::fflush(stderr);
}
