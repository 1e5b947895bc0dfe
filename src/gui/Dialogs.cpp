#include <windows.h>

#include "Dialogs.h"
#include "Forms.h"

void ShowMessage(const std::wstring& Msg) {
  // The owner is disabled while the box is up, so the window takes no input meanwhile.
  HWND owner = GetActiveWindow();
  if (!owner && Application && Application->MainForm() && Application->MainForm()->HandleAllocated())
    owner = Application->MainForm()->Handle();
  std::wstring title = Application ? Application->Title() : std::wstring();
  MessageBoxW(owner, Msg.c_str(), title.c_str(), MB_OK);
}
