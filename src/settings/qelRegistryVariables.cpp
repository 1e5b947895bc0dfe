#include "qelRegistryVariables.h"

#include <vector>

#include "qelRegistryKey.h"

std::wstring RegistryVendor = L"Korvane";
HKEY RegistryRoot = HKEY_CURRENT_USER;

namespace {
const wchar_t kDefaultVendor[] = L"Korvane";
const wchar_t kVeldamapVendor[] = L"Mireton";

// Enough to see the key.
constexpr REGSAM kExistenceAccess = STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
// For deleting a value.
constexpr REGSAM kDeleteAccess = KEY_READ | KEY_WRITE;

// The registry wants the path relative to the hive.
std::wstring RelativeKeyPath(const std::wstring& path) {
  return (!path.empty() && path[0] == L'\\') ? path.substr(1) : path;
}

}  // namespace

namespace qelRegistryLocation {

std::wstring OwnExecutablePath() {
  // Paths may exceed MAX_PATH; grow until the whole name fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (n == 0) return std::wstring();
    if (n < size) return std::wstring(buffer.data(), n);
    if (buffer.size() >= 65536) return std::wstring();
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring WithoutExtension(const std::wstring& fileName) {
  const size_t dot = fileName.rfind(L'.');
  return dot == std::wstring::npos ? fileName : fileName.substr(0, dot);
}

void Apply(const std::wstring& exePath) {
  if (AsciiUpper(FileNamePart(exePath)) == L"VELDAMAP.EXE") {
    RegistryVendor = kVeldamapVendor;
    RegistryRoot = HKEY_LOCAL_MACHINE;
  } else {
    RegistryVendor = kDefaultVendor;
    RegistryRoot = HKEY_CURRENT_USER;
  }
}

std::wstring ProfilePathFor(const std::wstring& vendor, const std::wstring& exePath) {
  return L"\\Software\\" + vendor + L"\\" + WithoutExtension(FileNamePart(exePath));
}

}  // namespace qelRegistryLocation

void qelRegistryVariablesInitialize() {
  qelRegistryLocation::Apply(qelRegistryLocation::OwnExecutablePath());
}

void qelRegistryVariablesFinalize() {
  RegistryVendor = kDefaultVendor;
  RegistryRoot = HKEY_CURRENT_USER;
}

// ---------------------------------------------------------------------------------------

TRegistryVariable::TRegistryVariable(const std::wstring& name)
    : FKeyName(name),
      FProfilePath(qelRegistryLocation::ProfilePathFor(
          RegistryVendor, qelRegistryLocation::OwnExecutablePath())),
      FRootKey(RegistryRoot) {}

TRegistryVariable::~TRegistryVariable() {
  if (!FDeletePending) return;
  try {
    qelRegistry::TRegKey key;
    if (key.Create(FRootKey, RelativeKeyPath(FProfilePath), kDeleteAccess))
      key.DeleteValue(FKeyName);
  } catch (...) {
    // Nothing in a release may fail visibly; the value simply stays.
  }
}

bool TRegistryVariable::ReadDword(DWORD& value) const {
  const std::wstring path = RelativeKeyPath(FProfilePath);
  {
    // Look before reading so that a first run leaves the registry exactly as it was.
    qelRegistry::TRegKey probe;
    if (!probe.Open(FRootKey, path, kExistenceAccess)) return false;
  }
  // Opened as for writing, as it always was; a key the user may only read (the machine-wide
  // key without administrator rights) is read with read access instead.
  qelRegistry::TRegKey key;
  if (!key.Open(FRootKey, path, KEY_ALL_ACCESS)) key.Open(FRootKey, path, KEY_READ);
  return key.QueryDword(FKeyName, value);
}

void TRegistryVariable::WriteDword(DWORD value) const {
  qelRegistry::TRegKey key;
  if (key.Create(FRootKey, RelativeKeyPath(FProfilePath), KEY_ALL_ACCESS))
    key.SetDword(FKeyName, value);
}
