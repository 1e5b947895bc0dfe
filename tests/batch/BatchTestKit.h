// A scratch folder for one test, and paths in the form the batch layer takes them.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "TextCodec.h"

namespace batchtest {
namespace fs = std::filesystem;

inline std::wstring W(const fs::path& path) { return WidePath(path); }

class TScratch : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    FDir = fs::temp_directory_path() / ("bandweave-batchtest-" + std::to_string(random()));
    fs::create_directories(FDir);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FDir, ignored);
  }
  fs::path FDir;
};
}  // namespace batchtest
