// qelRegistryKey: the one place that talks to the registry. A key handle that closes itself,
// DWORD reads that leave the caller's value alone unless a real 4-byte REG_DWORD was read,
// and a write/delete observer that tests can install to see the order of changes.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace qelRegistry {

// Win32 registry calls report a LONG error code; everything here asks only "did it work".
inline bool Succeeded(LONG result) { return result == ERROR_SUCCESS; }

class TRegKey {
 public:
  TRegKey() = default;
  ~TRegKey() { Close(); }
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;

  // Opens an existing key; never creates one.
  bool Open(HKEY root, const std::wstring& path, REGSAM access);
  // Opens the key, creating every missing key on the path (non-volatile, no class).
  bool Create(HKEY root, const std::wstring& path, REGSAM access);
  void Close();
  bool IsOpen() const { return FKey != nullptr; }

  // True, with value set, only when the named value is a REG_DWORD of exactly 4 bytes.
  // Anything else (missing, another type, more or fewer bytes) leaves value untouched.
  bool QueryDword(const std::wstring& name, DWORD& value) const;
  bool SetDword(const std::wstring& name, DWORD value) const;
  bool DeleteValue(const std::wstring& name) const;

 private:
  HKEY FKey = nullptr;
};

// Observer of successful changes, called after each write or deletion that the registry
// accepted. Only tests install one.
enum class TRegChange { Write, Delete };
using TRegChangeObserver =
    std::function<void(TRegChange change, const std::wstring& name, DWORD value)>;
void SetChangeObserver(TRegChangeObserver observer);

// Number of key handles currently open through TRegKey, so that tests can check that no
// operation leaves one behind.
int OpenKeyCount();

}  // namespace qelRegistry
