// A fresh folder of the test's own, so that two suites running at once on one machine never
// share (or clear) each other's files.
#pragma once
#include <filesystem>
#include <stdexcept>
#include <string>

#if defined(_WIN32)
#include <random>
#else
#include <stdlib.h>

#include <vector>
#endif

namespace testenv {
// A new, empty folder below the system's temporary folder, named prefix plus random letters;
// never one that existed before. Natively only its owner may enter it. The caller removes it.
inline std::filesystem::path FreshPrivateFolder(const std::string& prefix) {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path();
#if !defined(_WIN32)
  const std::string pattern = (base / (prefix + "XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data())) return fs::path(name.data());  // mode 0700
#else
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 8; ++i) name += kLetters[device() % 36];
    std::error_code error;
    // create_directory is false for a name that exists: try another.
    if (fs::create_directory(base / name, error)) return base / name;
    if (error) break;
  }
#endif
  throw std::runtime_error("cannot make a temporary folder below " + base.string());
}
}  // namespace testenv
