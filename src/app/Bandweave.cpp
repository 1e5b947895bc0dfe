// Bandweave: Sentinel-2 band files to one 48-bit RGB picture.
#include <windows.h>

#include "Bandweaveform.h"
#include "Forms.h"
#include "ModuleStartup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ModuleStartup();
  GuiInitialize();
  Application->Initialize();
  Application->SetMainFormOnTaskBar(true);
  Application->CreateForm(FormBandweave);
  Application->Run();
  // Frees the window: its destroy handler stores the placement, then the controls their state.
  GuiFinalize();
  ModuleShutdown();
  return 0;
}
