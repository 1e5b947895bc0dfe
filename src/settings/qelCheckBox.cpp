#include "qelCheckBox.h"

TqelCheckBox::TqelCheckBox(TComponent* AOwner) : TCheckBox(AOwner) {}

TqelCheckBox::~TqelCheckBox() {
  if (!FSavedChecked) return;
  try {
    FSavedChecked->SetValue(Checked());
  } catch (...) {
    // The state read at start is written back instead.
  }
  FSavedChecked.reset();
}

void TqelCheckBox::Loaded() {
  TCheckBox::Loaded();
  if (DesignMode() || FSavedChecked) return;
  if (FNamedAs.empty()) FNamedAs = Name();
  FSavedChecked = TRegistryBoolean::CreateValue(FNamedAs, Checked());
  WithEventCleared(OnClick, [this] { SetChecked(FSavedChecked->Value()); });
}
