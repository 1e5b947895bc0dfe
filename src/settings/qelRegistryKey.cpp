#include "qelRegistryKey.h"

#include <utility>

namespace qelRegistry {
namespace {
TRegChangeObserver gObserver;
int gOpenKeys = 0;

void Notify(TRegChange change, const std::wstring& name, DWORD value) {
  if (!gObserver) return;
  // An observer is test code; whatever it throws must not escape a registry write.
  try {
    gObserver(change, name, value);
  } catch (...) {
  }
}
}  // namespace

bool TRegKey::Open(HKEY root, const std::wstring& path, REGSAM access) {
  Close();
  HKEY key = nullptr;
  if (!Succeeded(RegOpenKeyExW(root, path.c_str(), 0, access, &key)) || !key) return false;
  FKey = key;
  ++gOpenKeys;
  return true;
}

bool TRegKey::Create(HKEY root, const std::wstring& path, REGSAM access) {
  Close();
  HKEY key = nullptr;
  if (!Succeeded(RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                 nullptr, &key, nullptr)) ||
      !key)
    return false;
  FKey = key;
  ++gOpenKeys;
  return true;
}

void TRegKey::Close() {
  if (!FKey) return;
  RegCloseKey(FKey);
  FKey = nullptr;
  --gOpenKeys;
}

bool TRegKey::QueryDword(const std::wstring& name, DWORD& value) const {
  if (!FKey) return false;
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (!Succeeded(RegQueryValueExW(FKey, name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(&data), &size)))
    return false;
  // A short REG_DWORD would leave bytes we never read; treat it like any other bad value.
  if (type != REG_DWORD || size != sizeof(data)) return false;
  value = data;
  return true;
}

bool TRegKey::SetDword(const std::wstring& name, DWORD value) const {
  if (!FKey) return false;
  if (!Succeeded(RegSetValueExW(FKey, name.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&value), sizeof(value))))
    return false;
  Notify(TRegChange::Write, name, value);
  return true;
}

bool TRegKey::DeleteValue(const std::wstring& name) const {
  if (!FKey) return false;
  if (!Succeeded(RegDeleteValueW(FKey, name.c_str()))) return false;
  Notify(TRegChange::Delete, name, 0);
  return true;
}

void SetChangeObserver(TRegChangeObserver observer) { gObserver = std::move(observer); }

int OpenKeyCount() { return gOpenKeys; }

}  // namespace qelRegistry
