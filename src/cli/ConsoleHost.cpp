#include "ConsoleHost.h"

#if defined(_WIN32)
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "CompositeMask.h"
#include "TextCodec.h"

namespace {
constexpr int kBarWidth = 30;
// Redraws of the bar at most this often: the decoder reports every tile.
constexpr std::chrono::milliseconds kRedrawInterval(100);

// Text as it is, no line end added.
void Write(FILE* stream, const std::wstring& text) {
#if defined(_WIN32)
  // A console shows UTF-16 as it is; a pipe or file gets UTF-8 like everywhere else.
  const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    std::fflush(stream);
    DWORD written = 0;
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
#endif
  const std::string bytes = ToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

#if defined(_WIN32)
bool IsConsole(FILE* stream) {
  const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}
#endif

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// "[=========>                    ]  33%"
std::string BarText(double fraction) {
  if (fraction > 1) fraction = 1;
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string bar = "[";
  for (int i = 0; i < kBarWidth; ++i) bar += i < filled ? '=' : i == filled ? '>' : ' ';
  char percent[16];
  std::snprintf(percent, sizeof percent, "] %3d%%", static_cast<int>(fraction * 100));
  return bar + percent;
}
}  // namespace

bool StderrIsTerminal() {
#if defined(_WIN32)
  return IsConsole(stderr);
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

void WriteText(FILE* stream, const std::wstring& text) { Write(stream, text); }

namespace {
std::vector<std::wstring>& ToolErrorList() {
  static std::vector<std::wstring> errors;
  return errors;
}
}  // namespace

void ToolError(const std::wstring& text) {
  ToolErrorList().push_back(text);
  WriteLine(stderr, L"bandweave-cli: " + text);
}

const std::vector<std::wstring>& ToolErrors() { return ToolErrorList(); }

void WriteLine(FILE* stream, const std::wstring& text) {
#if defined(_WIN32)
  if (IsConsole(stream)) {
    Write(stream, text + L"\r\n");
    return;
  }
#endif
  Write(stream, text + L"\n");
}

void ConsoleHost::Line(FILE* stream, const std::wstring& text) {
  ClearBar();
  WriteLine(stream, text);
  if (FFraction >= 0) DrawBar();
}

std::wstring ConsoleHost::Stamp() const {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%8.3f s] ", seconds);
  return Widen(stamp);
}

void ConsoleHost::SetStatusText(const std::wstring& text) {
  FStatus = text;
  Line(stderr, FTimes ? Stamp() + text : text);
}

void ConsoleHost::NoteMasked(uint64_t maskedPixels, uint64_t pixels) {
  FMaskedFraction = pixels ? static_cast<double>(maskedPixels) / static_cast<double>(pixels) : 0.0;
  Line(stderr, MaskedShareText(maskedPixels, pixels));
}

void ConsoleHost::NoteWay(const std::wstring& text) {
  if (FTimes) Line(stderr, Stamp() + text);
}

void ConsoleHost::SetStatusHint(const std::wstring& text) { Line(stderr, text); }

void ConsoleHost::ShowModalMessage(const std::wstring& text) {
  FMessages.push_back(text);
  Line(stdout, text);
}

void ConsoleHost::Beep() {
  std::fputc('\a', stderr);
  std::fflush(stderr);
}

void ConsoleHost::SetProgress(double fraction) {
  if (!FProgressBar) return;
  if (!(fraction >= 0)) {
    FFraction = -1;
    ClearBar();
    return;
  }
  FFraction = fraction;
  // The first state and the end always show; in between, one redraw per interval.
  const auto now = std::chrono::steady_clock::now();
  if (!FDrawn.empty() && fraction < 1 && now - FDrawnAt < kRedrawInterval) return;
  DrawBar();
}

void ConsoleHost::DrawBar() {
  const std::string bar = BarText(FFraction);
  if (bar == FDrawn) return;
  // The bar keeps its width, so each one covers the last.
  Write(stderr, Widen("\r" + bar));
  FDrawn = bar;
  FDrawnAt = std::chrono::steady_clock::now();
}

void ConsoleHost::ClearBar() {
  if (FDrawn.empty()) return;
  Write(stderr, Widen("\r" + std::string(FDrawn.size(), ' ') + "\r"));
  FDrawn.clear();
}

void ConsoleHost::CompositeSaved(const std::wstring& red, const std::wstring& green, const std::wstring& blue,
                                 const std::wstring& composite) {
  if (!FOnSaved) return;
  TBandNames names;
  names.Started = true;
  names.Red = red, names.Green = green, names.Blue = blue;
  FOnSaved(names, composite);
}
