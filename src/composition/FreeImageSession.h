// Program start-up for image work. Free of FreeImage.h so the app can include it anywhere.
#pragma once

// OpenJPEG reads OPJ_NUM_THREADS whenever it creates a codec: set it to the number of cores
// unless the user has set it, so that each band decodes on every core. Call before
// FreeImage_Initialise. Returns the value in force.
int UseAllCoresForJpeg2000();

// FreeImage_Initialise for the object's lifetime (a statically linked FreeImage needs it; for
// the shared library it only counts up and down).
class FreeImageSession {
 public:
  FreeImageSession();
  ~FreeImageSession();
  FreeImageSession(const FreeImageSession&) = delete;
  FreeImageSession& operator=(const FreeImageSession&) = delete;
};
