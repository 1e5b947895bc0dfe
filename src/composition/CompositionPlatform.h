// What the composition layer needs of the system; one implementation per platform, so that
// windows.h stays out of the portable files.
#pragma once
#include <filesystem>
#include <string>

namespace compositionPlatform {
// The user's decimal separator ("." natively).
std::wstring DecimalSeparator();
// The path of an existing file that differs from path in ASCII letter case only, where path
// itself names nothing (case-sensitive file systems); otherwise path unchanged.
std::wstring ExistingSpelling(const std::wstring& path);
// Sets an environment variable for this process (and the libraries linked into it).
void SetEnvironment(const char* name, const char* value);
}  // namespace compositionPlatform
