#include "DragDropText.h"

#include "DropParsers.h"

bool TCustomUnicodeTextClipboardFormat::LoadBytes(const uint8_t* Buffer, int32_t Size) {
  const std::u16string text = dropparsers::ParseUnicodeFilename(Buffer, Size > 0 ? static_cast<size_t>(Size) : 0);
  FText.assign(text.begin(), text.end());
  return true;
}

std::wstring AnsiToWide(const std::string& Text) {
  if (Text.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), wide.data(), n);
  return wide;
}
