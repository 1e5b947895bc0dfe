// qelRegistryVariables: typed settings that live as REG_DWORD values in the program's own
// registry key. A value reads what is stored when it is created (keeping its default when
// nothing usable is there) and writes itself back when flushed or released. No registry
// failure is ever reported or thrown: reads keep the default, failed writes are dropped.
//
// Where values live is decided once, at start-up, by qelRegistryVariablesInitialize():
// HKEY_CURRENT_USER\Software\Korvane\<executable name without extension>, except for an
// executable called veldamap.exe (any ASCII case), whose values live below
// HKEY_LOCAL_MACHINE\Software\Mireton.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "FileNames.h"
#include "Forms.h"

// Module state: written by the start-up function only, read by every value at creation.
extern std::wstring RegistryVendor;
extern HKEY RegistryRoot;

// Module start-up: applies the location rule to this process's executable. Shut-down puts the
// initial state back; it has no registry effect.
void qelRegistryVariablesInitialize();
void qelRegistryVariablesFinalize();

namespace qelRegistryLocation {
// The pieces of the location rule, separate so that they can be checked without renaming
// the executable.
std::wstring OwnExecutablePath();
// The part after the last folder separator (FileNames.h).
using ::FileNamePart;
// The name with its last '.' and what follows removed ("my.tool.exe" -> "my.tool").
std::wstring WithoutExtension(const std::wstring& fileName);
// Sets RegistryVendor and RegistryRoot for a program started from exePath.
void Apply(const std::wstring& exePath);
// "\Software\" + vendor + "\" + the executable's name without extension.
std::wstring ProfilePathFor(const std::wstring& vendor, const std::wstring& exePath);
}  // namespace qelRegistryLocation

// A named value in the program's key. Abstract: the subclasses know the value's type.
class TRegistryVariable : public TObject {
 public:
  // Deletes the stored value when DeletePending is set.
  ~TRegistryVariable() override;

  // Writes the in-memory value now.
  virtual void Flush() = 0;

  bool DeletePending() const { return FDeletePending; }
  void SetDeletePending(bool value) { FDeletePending = value; }

  const std::wstring& KeyName() const { return FKeyName; }
  const std::wstring& ProfilePath() const { return FProfilePath; }
  HKEY RootKey() const { return FRootKey; }

 protected:
  // Records where the value lives, from the module state of this moment; no registry access.
  explicit TRegistryVariable(const std::wstring& name);

  // Reads the stored DWORD; false (and value untouched) when the key or a usable value is
  // missing. Never creates the key.
  bool ReadDword(DWORD& value) const;
  // Writes the DWORD, creating the key when needed; a failure is dropped.
  void WriteDword(DWORD value) const;

 private:
  bool FDeletePending = false;
  std::wstring FKeyName;
  std::wstring FProfilePath;
  HKEY FRootKey;
};

// A value of type T stored as one REG_DWORD: T's conversions are DwordOf and FromDword below.
// Self is the class that derives from it, so that CreateValue makes one of those.
template <class Self, class T>
class TRegistryValueOf : public TRegistryVariable {
 public:
  // Starts from the default and reads the stored value.
  TRegistryValueOf(const std::wstring& name, T value) : TRegistryVariable(name), FValue(value) {
    DWORD stored = 0;
    if (ReadDword(stored)) FValue = FromDword(stored, T());
  }
  static std::unique_ptr<Self> CreateValue(const std::wstring& name, T value) {
    return std::make_unique<Self>(name, value);
  }
  // Writes the value, then the base deletes it if DeletePending is set.
  ~TRegistryValueOf() override {
    try {
      Flush();
    } catch (...) {
    }
  }

  void Flush() override { WriteDword(DwordOf(FValue)); }
  T Value() const { return FValue; }
  void SetValue(T value) { FValue = value; }

 private:
  // The second argument only picks the type.
  static bool FromDword(DWORD stored, bool) { return stored != 0; }
  static int32_t FromDword(DWORD stored, int32_t) { return static_cast<int32_t>(stored); }
  static DWORD DwordOf(bool value) { return value ? 1 : 0; }
  static DWORD DwordOf(int32_t value) { return static_cast<DWORD>(value); }

  T FValue;
};

// Any non-zero DWORD reads as true; written as 0 or 1.
class TRegistryBoolean : public TRegistryValueOf<TRegistryBoolean, bool> {
 public:
  using TRegistryValueOf::TRegistryValueOf;
};

// A signed 32-bit number, written as its two's-complement DWORD.
class TRegistryInteger : public TRegistryValueOf<TRegistryInteger, int32_t> {
 public:
  using TRegistryValueOf::TRegistryValueOf;
};

// Remembers a window's state, position and size in seven integer values, read when the
// record is created (the window's current properties being the defaults) and written when it
// is released. Release it while the window still exists: it reads the window then.
class TRegistryFormInfo : public TObject {
 public:
  explicit TRegistryFormInfo(TForm* AOwner);
  // Value names prefixed with SubName + "/", so that several windows share one key.
  TRegistryFormInfo(TForm* AOwner, const std::wstring& SubName);
  // Captures the window and writes FormState, FormLeft, FormTop, FormWidth, FormHeight,
  // FormClientWidth, FormClientHeight, in that order.
  ~TRegistryFormInfo() override;

  // Captures the window and writes the seven values now.
  void Flush();
  // Moves the window to the stored left and top, or, when no monitor's work area would show
  // any of it there, onto the nearest monitor's work area, its size kept.
  void GetSavedLocationOnly();
  // Applies the stored state, left, top, client width and client height; kept reachable as
  // above.
  void GetSavedPosition();
  // Applies the stored client width and client height.
  void GetSavedSizeOnly();
  // The stored window state: the low 8 bits of FormState, anything but minimised (1) or
  // maximised (2) counting as normal.
  TWindowState WindowState() const;

 private:
  void CreateValues(const std::wstring& prefix);
  void Capture();
  void KeepReachable();

  TForm* FOwner;
  std::unique_ptr<TRegistryInteger> FClientHeight;
  std::unique_ptr<TRegistryInteger> FClientWidth;
  std::unique_ptr<TRegistryInteger> FWindowHeight;
  std::unique_ptr<TRegistryInteger> FWindowLeft;
  std::unique_ptr<TRegistryInteger> FWindowState;
  std::unique_ptr<TRegistryInteger> FWindowTop;
  std::unique_ptr<TRegistryInteger> FWindowWidth;
};
