// UTF-8 at the edges of the program (native paths, console output). Wide strings are UTF-32
// natively and UTF-16 on Windows. Bytes that are not UTF-8 map to U+DC80..U+DCFF and back, so
// a native file name of any bytes survives the round trip.
#pragma once
#include <filesystem>
#include <string>

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// The path as this platform's file system calls take it (UTF-8 bytes natively, UTF-16 on
// Windows), and back.
std::filesystem::path FsPath(const std::wstring& path);
std::wstring WidePath(const std::filesystem::path& path);
