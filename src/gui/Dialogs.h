// The modal message dialog.
#pragma once
#include <windows.h>

#include <string>

// Text, no icon, one OK button, captioned Caption. Owner stays disabled while it is up.
// Returns when the user dismisses it.
void ShowMessage(const std::wstring& Msg, HWND Owner, const std::wstring& Caption);
