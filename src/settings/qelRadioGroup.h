// qelRadioGroup: a radio group whose selected item survives the program. The selection is
// read from the registry once the layout has been applied and written back when the group is
// destroyed (or when SaveSettings is called), under NamedAs or, when that is empty, the
// group's own name.
#pragma once
#include <memory>
#include <string>

#include "ExtCtrls.h"
#include "qelRegistryVariables.h"

class TqelRadioGroup : public TRadioGroup {
 public:
  explicit TqelRadioGroup(TComponent* AOwner);
  // Writes the selection of this moment, if it was ever read.
  ~TqelRadioGroup() override;

  const std::wstring& NamedAs() const { return FNamedAs; }
  // After the stored selection was read this no longer moves where it is stored.
  void SetNamedAs(const std::wstring& Value) { FNamedAs = Value; }

  // Writes the current selection now; nothing before the stored one has been read.
  void SaveSettings();

 protected:
  // Applies the stored selection without the click handler hearing of it.
  void Loaded() override;

 private:
  std::wstring FNamedAs;
  std::unique_ptr<TRegistryInteger> FSavedIndex;
};
