#if defined(_WIN32)
#include <windows.h>

#include "SystemMemory.h"

uint64_t PhysicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}
#endif
