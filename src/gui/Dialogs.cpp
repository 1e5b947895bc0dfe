#include "Dialogs.h"

void ShowMessage(const std::wstring& Msg, HWND Owner, const std::wstring& Caption) {
  MessageBoxW(Owner, Msg.c_str(), Caption.c_str(), MB_OK);
}
