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

bool EndsWithNoCase(const std::wstring& text, const std::wstring& suffix) {
  if (suffix.size() > text.size()) return false;
  const size_t at = text.size() - suffix.size();
  for (size_t k = 0; k < suffix.size(); ++k)
    if (AsciiUpper(text[at + k]) != AsciiUpper(suffix[k])) return false;
  return true;
}
