#include "ExceptionBoundary.h"

#include <windows.h>

namespace {
TBoundaryHandler gHandler = nullptr;
}

void SetBoundaryHandler(TBoundaryHandler Handler) { gHandler = Handler; }

void HandleAtBoundary(const std::exception* E) {
  if (!gHandler) return;
  // The handler itself (a message box) must not throw through the window system either.
  try {
    gHandler(E);
  } catch (...) {
  }
}

std::wstring ExceptionText(const std::exception* E, const std::wstring& Fallback) {
  const char* what = E ? E->what() : nullptr;
  if (!what || !*what) return Fallback;
  const int n = MultiByteToWideChar(CP_UTF8, 0, what, -1, nullptr, 0);
  if (n <= 1) return Fallback;
  std::wstring text(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, what, -1, &text[0], n);
  text.resize(static_cast<size_t>(n - 1));  // the terminator
  return text;
}
