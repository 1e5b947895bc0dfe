// The modal message dialog.
#pragma once
#include <string>

// Text, no icon, one OK button, captioned with the application's title. Its owner is the
// active window of this thread (else the main form), which stays disabled while it is up.
// Returns when the user dismisses it.
void ShowMessage(const std::wstring& Msg);
