// The composition layer's system needs on Windows: UTF-16 paths, the user's locale.
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "CompositionPlatform.h"

namespace compositionPlatform {
std::wstring DecimalSeparator() {
  const int size = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, nullptr, 0);
  if (size > 1) {
    std::vector<wchar_t> buffer(static_cast<size_t>(size));
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, buffer.data(), size) > 1)
      return std::wstring(buffer.data());
  }
  return L".";
}

// Windows file names ignore letter case already.
std::wstring ExistingSpelling(const std::wstring& path) { return path; }

// OpenJPEG reads its thread count with getenv, which sees the C runtime's copy of the
// environment; _putenv_s updates that copy and the process's own.
void SetEnvironment(const char* name, const char* value) { _putenv_s(name, value); }
}  // namespace compositionPlatform
