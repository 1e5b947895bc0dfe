#include "qelRadioGroup.h"

TqelRadioGroup::TqelRadioGroup(TComponent* AOwner) : TRadioGroup(AOwner) {}

TqelRadioGroup::~TqelRadioGroup() {
  try {
    SaveSettings();
  } catch (...) {
    // A setting that cannot be saved is lost silently, never the program.
  }
  FSavedIndex.reset();  // writes the same value once more
}

void TqelRadioGroup::Loaded() {
  TRadioGroup::Loaded();
  // In a designer the registry belongs to the designer's process, not ours; and the stored
  // value is read once only.
  if (DesignMode() || FSavedIndex) return;
  if (FNamedAs.empty()) FNamedAs = Name();
  FSavedIndex = TRegistryInteger::CreateValue(FNamedAs, ItemIndex());
  WithEventCleared(OnClick, [this] { SetItemIndex(FSavedIndex->Value()); });
}

void TqelRadioGroup::SaveSettings() {
  if (!FSavedIndex) return;
  FSavedIndex->SetValue(ItemIndex());
  FSavedIndex->Flush();
}
