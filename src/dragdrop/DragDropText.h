// Text clipboard formats: the bases of the single-name file formats.
#pragma once
#include <string>

#include "DragDropFormats.h"

// Content: one UTF-16 string, the first Size / 2 units of the data exactly as sent.
class TCustomUnicodeTextClipboardFormat : public TCustomSimpleClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TCustomUnicodeTextClipboardFormat, TCustomSimpleClipboardFormat)
 public:
  void Clear() override { FText.clear(); }
  bool HasData() override { return !FText.empty(); }
  bool LoadBytes(const uint8_t* Buffer, int32_t Size) override;
  const std::wstring& Text() const { return FText; }
  void SetText(const std::wstring& Value) { FText = Value; }

 protected:
  TCustomUnicodeTextClipboardFormat() = default;
  std::wstring FText;
};

// Content: one 8-bit string, cut at its first zero byte.
class TCustomAnsiTextClipboardFormat : public TCustomAnsiStringClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TCustomAnsiTextClipboardFormat, TCustomAnsiStringClipboardFormat)
 protected:
  TCustomAnsiTextClipboardFormat() { FTrimZeroes = true; }
};

// 8-bit text in the system's ANSI code page, as UTF-16.
std::wstring AnsiToWide(const std::string& Text);
