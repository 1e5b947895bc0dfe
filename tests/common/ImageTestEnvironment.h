// What every test program of the job needs around it: the clock and FreeImage started once for
// the whole program, and paths in the job's own form.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "FreeImageSession.h"
#include "TextCodec.h"
#include "qelUtils.h"

namespace imagetest {
class TImageEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qelUtilsInitialize();
    FSession = new FreeImageSession;
  }
  void TearDown() override {
    delete FSession;
    qelUtilsFinalize();
  }

 private:
  FreeImageSession* FSession = nullptr;
};

inline std::wstring Wide(const std::filesystem::path& path) {
#if defined(_WIN32)
  return path.wstring();
#else
  return FromUtf8(path.string());
#endif
}
}  // namespace imagetest
