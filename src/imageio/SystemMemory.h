// How much memory this machine has, for refusing work that could never fit before trying.
#pragma once
#include <cstdint>

// Installed physical memory in bytes; 0 when the system does not say.
uint64_t PhysicalMemoryBytes();
