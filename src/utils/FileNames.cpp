#include "FileNames.h"

std::wstring FileNamePart(const std::wstring& path) {
#if defined(_WIN32)
  const size_t at = path.find_last_of(L"\\/:");
#else
  const size_t at = path.find_last_of(L'/');
#endif
  return at == std::wstring::npos ? path : path.substr(at + 1);
}

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

std::wstring AsciiUpper(std::wstring text) {
  for (wchar_t& c : text) c = AsciiUpper(c);
  return text;
}
