// Where tests find their data, as paths this platform's file calls accept. Under Wine the
// environment carries Unix paths; the Z: drive maps the Unix root.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>

namespace testenv {
inline std::filesystem::path FromEnv(const char* var) {
  const char* v = std::getenv(var);
  if (!v || !*v) return {};
  std::string s(v);
#if defined(_WIN32)
  if (!s.empty() && s[0] == '/') s = "Z:" + s;
  for (char& c : s)
    if (c == '/') c = '\\';
#endif
  return std::filesystem::u8path(s);
}
// Generated sample tiles (always present when the tests are run through CTest).
inline std::filesystem::path TestData() { return FromEnv("BANDWEAVE_TEST_DATA"); }
// The real ESA band files; empty or missing when the folder is not beside the project.
inline std::filesystem::path RealData() { return FromEnv("BANDWEAVE_REAL_DATA"); }
}  // namespace testenv
