// The program's one start-up sequence, run by the entry before the main window exists, and
// the shut-down in reverse. Static initialisers give no order across files; this does.
#pragma once

// OLE for the GUI thread and the data formats, the clock, the registry location, FreeImage.
void ModuleStartup();
void ModuleShutdown();
