#include "qelCheckBox.h"

#include <utility>

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
  TNotifyEvent saved = std::move(OnClick);
  OnClick = nullptr;
  try {
    SetChecked(FSavedChecked->Value());
  } catch (...) {
    OnClick = std::move(saved);
    throw;
  }
  OnClick = std::move(saved);
}
