#include "FreeImageSession.h"

#include <FreeImage.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "CompositionPlatform.h"

int UseAllCoresForJpeg2000() {
  if (const char* set = std::getenv("OPJ_NUM_THREADS"); set && *set) {
    // OpenJPEG also understands ALL_CPUS.
    const int threads = std::atoi(set);
    return threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency());
  }
  const unsigned cores = std::thread::hardware_concurrency();
  const int threads = cores > 0 ? static_cast<int>(cores) : 1;
  compositionPlatform::SetEnvironment("OPJ_NUM_THREADS", std::to_string(threads).c_str());
  return threads;
}

FreeImageSession::FreeImageSession() { FreeImage_Initialise(FALSE); }
FreeImageSession::~FreeImageSession() { FreeImage_DeInitialise(); }
