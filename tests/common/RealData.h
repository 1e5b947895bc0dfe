// The real ESA band files: tests that need them skip where the folder is absent, unless the run
// requires them (CI sets BANDWEAVE_REQUIRE_REAL_DATA=1); then their absence fails the test, so a
// clone without the data can never pass for a full run.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "TestEnv.h"

namespace testenv {
inline bool RealDataRequired() {
  const char* value = std::getenv("BANDWEAVE_REQUIRE_REAL_DATA");
  return value && *value && std::string(value) != "0";
}
}  // namespace testenv

// In a test body or SetUp: skips (or fails, when required) unless where, a folder or file of the
// real data, exists. An empty path stands for the whole real-data folder being unknown.
#define BANDWEAVE_NEED_REAL_DATA(where)                                                          \
  do {                                                                                          \
    const std::filesystem::path bandweaveRealPath_ = (where);                                   \
    std::error_code bandweaveRealError_;                                                        \
    if (bandweaveRealPath_.empty() || !std::filesystem::exists(bandweaveRealPath_, bandweaveRealError_)) { \
      if (testenv::RealDataRequired())                                                          \
        FAIL() << "the real ESA files are required (BANDWEAVE_REQUIRE_REAL_DATA) but absent: "  \
               << (bandweaveRealPath_.empty() ? std::string("BANDWEAVE_REAL_DATA is not set")   \
                                              : bandweaveRealPath_.u8string());                 \
      GTEST_SKIP() << "real ESA files absent";                                                  \
    }                                                                                           \
  } while (0)
