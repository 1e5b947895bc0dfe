// How long-running image work talks back to its caller without knowing about windows: a
// keep-alive between tiles and strips, and progress. Both are called on the caller's thread.
#pragma once
#include <cstdint>
#include <functional>

struct TWorkCallbacks {
  std::function<void()> KeepAlive;                              // may be empty
  std::function<void(uint64_t done, uint64_t total)> Progress;  // may be empty
};
