#include "TextCodec.h"

#include "Utf8.h"

namespace {
void AppendWide(std::wstring& out, char32_t cp) {
  if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (cp >> 10));
    out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<wchar_t>(cp);
  }
}
}  // namespace

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) == 2) cp &= 0xFFFF;
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size()) {
      const char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (cp >= 0xDC80 && cp < 0xDD00) {
      out += static_cast<char>(cp & 0xFF);  // an escaped byte goes back as it came
    } else if ((cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, cp);
    }
  }
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = byte(i);
    size_t length = 0;
    char32_t cp = 0, min = 0;
    if (b < 0x80) {
      length = 1, cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      length = 2, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4, cp = b & 0x07, min = 0x10000;
    }
    bool valid = length != 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) valid = false;
      else cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (valid && (cp < min || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF)) valid = false;
    if (!valid) {
      out += static_cast<wchar_t>(0xDC00 + b);
      ++i;
      continue;
    }
    AppendWide(out, cp);
    i += length;
  }
  return out;
}

std::filesystem::path FsPath(const std::wstring& path) {
#if defined(_WIN32)
  return std::filesystem::path(path);
#else
  return std::filesystem::path(ToUtf8(path));
#endif
}

std::wstring WidePath(const std::filesystem::path& path) {
#if defined(_WIN32)
  return path.wstring();
#else
  return FromUtf8(path.string());
#endif
}
