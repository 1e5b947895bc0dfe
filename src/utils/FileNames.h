// File names as the program compares them: the name part of a path, and upper case for the
// letters a to z only, so that a comparison means the same in every locale.
#pragma once
#include <string>

// What follows the last folder separator: '\', '/' or a drive's ':' on Windows, '/' elsewhere.
std::wstring FileNamePart(const std::wstring& path);

wchar_t AsciiUpper(wchar_t c);
std::wstring AsciiUpper(std::wstring text);
// True when text ends in suffix, the letters a to z matched in either case.
bool EndsWithNoCase(const std::wstring& text, const std::wstring& suffix);
