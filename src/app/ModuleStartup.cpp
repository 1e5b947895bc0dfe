#include <windows.h>

#include "ModuleStartup.h"

#include <memory>

#include "FreeImageSession.h"
#include "qelRegistryVariables.h"
#include "qelUtils.h"
#if BANDWEAVE_HAS_DRAGDROP
#include "DragDrop.h"
#include "DragDropFile.h"
#endif

namespace {
std::unique_ptr<FreeImageSession> gFreeImage;
}

void ModuleStartup() {
#if BANDWEAVE_HAS_DRAGDROP
  // OLE first: the formats registered next and the drop target rely on it.
  DragDropInitialize();
  DragDropFileInitialize();
#endif
  qelUtilsInitialize();
  qelRegistryVariablesInitialize();
  UseAllCoresForJpeg2000();
  gFreeImage = std::make_unique<FreeImageSession>();
}

void ModuleShutdown() {
  gFreeImage.reset();
  qelRegistryVariablesFinalize();
  qelUtilsFinalize();
#if BANDWEAVE_HAS_DRAGDROP
  DragDropFinalize();
#endif
}
