// qelCheckBox: a check box whose state survives the program. The state is read from the
// registry once the layout has been applied and written back (0 or 1) when the box is
// destroyed, under NamedAs or, when that is empty, the box's own name.
#pragma once
#include <memory>
#include <string>

#include "StdCtrls.h"
#include "qelRegistryVariables.h"

class TqelCheckBox : public TCheckBox {
 public:
  explicit TqelCheckBox(TComponent* AOwner);
  // Writes the state of this moment, if it was ever read.
  ~TqelCheckBox() override;

  const std::wstring& NamedAs() const { return FNamedAs; }
  // After the stored state was read this no longer moves where it is stored.
  void SetNamedAs(const std::wstring& Value) { FNamedAs = Value; }

 protected:
  // Applies the stored state without the click handler hearing of it.
  void Loaded() override;

 private:
  std::wstring FNamedAs;
  std::unique_ptr<TRegistryBoolean> FSavedChecked;
};
