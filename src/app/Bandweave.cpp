// Bandweave: Sentinel-2 band files to one 48-bit RGB picture.
#include <windows.h>

#include <exception>
#include <string>

#include "Bandweaveform.h"
#include "ExceptionBoundary.h"
#include "Forms.h"
#include "ModuleStartup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    ModuleStartup();
    GuiInitialize();  // makes and initialises the application object
    Application->SetMainFormOnTaskBar(true);
    Application->CreateForm(FormBandweave);
    Application->Run();
    // Frees the window: its destroy handler stores the placement, then the controls their state.
    GuiFinalize();
    ModuleShutdown();
    return 0;
  } catch (const std::exception& e) {
    // Nothing is left to show it in but the system's own box.
    MessageBoxW(nullptr, ExceptionText(&e, L"").c_str(), L"Bandweave", MB_OK | MB_ICONERROR);
    return 1;
  }
}
