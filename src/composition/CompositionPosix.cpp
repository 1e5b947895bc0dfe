// The composition layer's system needs, natively: paths are UTF-8 bytes.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "CompositionPlatform.h"
#include "TextCodec.h"

namespace compositionPlatform {
std::wstring DecimalSeparator() { return L"."; }

std::wstring ExistingSpelling(const std::wstring& path) {
  std::error_code error;
  const std::filesystem::path wanted = FsPath(path);
  if (std::filesystem::exists(std::filesystem::symlink_status(wanted, error))) return path;
  const auto upper = [](std::string text) {
    for (char& c : text)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
  };
  const std::string name = upper(wanted.filename().string());
  const std::filesystem::path folder = wanted.has_parent_path() ? wanted.parent_path() : ".";
  // The first match in byte order, so that two spellings in one folder always give the same.
  std::string best;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string candidate = it->path().filename().string();
    if (upper(candidate) == name && (best.empty() || candidate < best)) best = candidate;
  }
  if (best.empty()) return path;
  return FromUtf8((wanted.has_parent_path() ? (folder / best) : std::filesystem::path(best)).string());
}

void SetEnvironment(const char* name, const char* value) { setenv(name, value, 1); }
}  // namespace compositionPlatform
