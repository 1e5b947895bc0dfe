// The files make-references.py leaves for the cloud tests (GDAL's warps, numpy's medians,
// generated dates), found through BANDWEAVE_CLOUD_REFERENCES, which CTest sets.
#pragma once
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "TestEnv.h"

namespace cloudrefs {
inline std::filesystem::path Folder() { return testenv::FromEnv("BANDWEAVE_CLOUD_REFERENCES"); }

// A raw file of T values in the machine's byte order (numpy's tofile); empty when missing.
template <typename T>
std::vector<T> Read(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<T> values(bytes.size() / sizeof(T));
  if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * sizeof(T));
  return values;
}
}  // namespace cloudrefs
