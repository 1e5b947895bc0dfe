// The window placement record of qelRegistryVariables: seven integer values per window.
#include "qelRegistryVariables.h"

namespace {
// Only the low byte of a stored state is a window state; anything but minimised or maximised
// counts as normal, so that a damaged value can never hand the window an unknown state.
TWindowState StateFromStored(int32_t stored) {
  switch (stored & 0xFF) {
    case wsMinimized:
      return wsMinimized;
    case wsMaximized:
      return wsMaximized;
    default:
      return wsNormal;
  }
}
}  // namespace

TRegistryFormInfo::TRegistryFormInfo(TForm* AOwner) : FOwner(AOwner) { CreateValues(L""); }

TRegistryFormInfo::TRegistryFormInfo(TForm* AOwner, const std::wstring& SubName)
    : FOwner(AOwner) {
  CreateValues(SubName + L"/");
}

void TRegistryFormInfo::CreateValues(const std::wstring& prefix) {
  // The window's current placement is the default for whatever is not stored yet.
  FWindowState = TRegistryInteger::CreateValue(prefix + L"FormState", FOwner->WindowState());
  FWindowLeft = TRegistryInteger::CreateValue(prefix + L"FormLeft", FOwner->Left());
  FWindowTop = TRegistryInteger::CreateValue(prefix + L"FormTop", FOwner->Top());
  FWindowWidth = TRegistryInteger::CreateValue(prefix + L"FormWidth", FOwner->Width());
  FWindowHeight = TRegistryInteger::CreateValue(prefix + L"FormHeight", FOwner->Height());
  FClientWidth = TRegistryInteger::CreateValue(prefix + L"FormClientWidth", FOwner->ClientWidth());
  FClientHeight =
      TRegistryInteger::CreateValue(prefix + L"FormClientHeight", FOwner->ClientHeight());
}

TRegistryFormInfo::~TRegistryFormInfo() {
  try {
    Capture();
  } catch (...) {
    // Whatever could not be read keeps its last value; it is still written below.
  }
  // Released one by one, in this order, because each release writes its value.
  FWindowState.reset();
  FWindowLeft.reset();
  FWindowTop.reset();
  FWindowWidth.reset();
  FWindowHeight.reset();
  FClientWidth.reset();
  FClientHeight.reset();
}

void TRegistryFormInfo::Capture() {
  FWindowState->SetValue(FOwner->WindowState());
  FWindowLeft->SetValue(FOwner->Left());
  FWindowTop->SetValue(FOwner->Top());
  FWindowWidth->SetValue(FOwner->Width());
  FWindowHeight->SetValue(FOwner->Height());
  FClientWidth->SetValue(FOwner->ClientWidth());
  FClientHeight->SetValue(FOwner->ClientHeight());
}

void TRegistryFormInfo::Flush() {
  Capture();
  FWindowState->Flush();
  FWindowLeft->Flush();
  FWindowTop->Flush();
  FWindowWidth->Flush();
  FWindowHeight->Flush();
  FClientWidth->Flush();
  FClientHeight->Flush();
}

void TRegistryFormInfo::GetSavedLocationOnly() {
  FOwner->SetLeft(FWindowLeft->Value());
  FOwner->SetTop(FWindowTop->Value());
  KeepReachable();
}

void TRegistryFormInfo::KeepReachable() {
  // A monitor removed or the resolution lowered since the window was stored: where it was may
  // be on no screen at all, and the user could never reach it there.
  const RECT stored{FOwner->Left(), FOwner->Top(), FOwner->Left() + FOwner->Width(),
                    FOwner->Top() + FOwner->Height()};
  const RECT shown = RectOnAWorkArea(stored);
  if (shown.left != stored.left || shown.top != stored.top)
    FOwner->SetBounds(shown.left, shown.top, FOwner->Width(), FOwner->Height());
}

void TRegistryFormInfo::GetSavedPosition() {
  FOwner->SetWindowState(StateFromStored(FWindowState->Value()));
  FOwner->SetLeft(FWindowLeft->Value());
  FOwner->SetTop(FWindowTop->Value());
  FOwner->SetClientWidth(FClientWidth->Value());
  FOwner->SetClientHeight(FClientHeight->Value());
  KeepReachable();
}

void TRegistryFormInfo::GetSavedSizeOnly() {
  FOwner->SetClientWidth(FClientWidth->Value());
  FOwner->SetClientHeight(FClientHeight->Value());
}

TWindowState TRegistryFormInfo::WindowState() const { return StateFromStored(FWindowState->Value()); }
