// Direct registry access for the settings tests: the tests look at what was really stored,
// not at what the code under test believes it stored.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qelRegistryVariables.h"

namespace regkit {

struct Stored {
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
  // The data as a DWORD when it is a 4-byte REG_DWORD.
  std::optional<uint32_t> Dword() const {
    if (type != REG_DWORD || data.size() != 4) return std::nullopt;
    return uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
           uint32_t(data[3]) << 24;
  }
};

// The key every value of this test program lands in (relative to the hive).
inline std::wstring ProgramKey(const std::wstring& vendor) {
  return qelRegistryLocation::ProfilePathFor(vendor, qelRegistryLocation::OwnExecutablePath())
      .substr(1);
}

inline bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline void DeleteKey(HKEY root, const std::wstring& path) {
  RegDeleteTreeW(root, path.c_str());
  RegDeleteKeyW(root, path.c_str());
}

inline std::optional<Stored> Read(HKEY root, const std::wstring& path, const std::wstring& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  Stored s;
  DWORD size = 0;
  LONG r = RegQueryValueExW(key, name.c_str(), nullptr, &s.type, nullptr, &size);
  if (r == ERROR_SUCCESS) {
    s.data.resize(size);
    r = RegQueryValueExW(key, name.c_str(), nullptr, &s.type, s.data.data(), &size);
    s.data.resize(size);
  }
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return std::nullopt;
  return s;
}

inline std::optional<uint32_t> ReadDword(HKEY root, const std::wstring& path,
                                         const std::wstring& name) {
  auto s = Read(root, path, name);
  return s ? s->Dword() : std::nullopt;
}

inline bool Write(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                  const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const LONG r = RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

inline bool WriteDword(HKEY root, const std::wstring& path, const std::wstring& name,
                       uint32_t value) {
  return Write(root, path, name, REG_DWORD, &value, sizeof(value));
}

inline std::wstring ExeFileName() {
  return qelRegistryLocation::FileNamePart(qelRegistryLocation::OwnExecutablePath());
}

}  // namespace regkit
