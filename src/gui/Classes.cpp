#include "Classes.h"

#include <algorithm>
#include <stdexcept>

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) {
    // Components made while their owner reads a layout belong to that layout; a designer's
    // components are designer components too.
    FComponentState |= AOwner->FComponentState & (csLoading | csDesigning);
    AOwner->InsertComponent(this);
  }
}

TComponent::~TComponent() {
  if (!Destroying()) {
    FComponentState |= csDestroying;
    NotifyFreeNotifiers();
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
  // Whoever we asked to hear of must not call back into a dead object.
  for (TComponent* c : FFreeNotifies) {
    auto& v = c->FFreeNotifies;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  FFreeNotifies.clear();
}

void TComponent::Free(TComponent* AComponent) {
  if (!AComponent) return;
  if (!AComponent->Destroying()) AComponent->BeforeDestruction();
  delete AComponent;
}

void TComponent::BeforeDestruction() {
  if (Destroying()) return;
  FComponentState |= csDestroying;
  NotifyFreeNotifiers();
  // Owned components go while this object is still whole, so that they can still reach it.
  DestroyComponents();
}

void TComponent::NotifyFreeNotifiers() {
  // A listener may remove itself (or others) while hearing the news: work on a copy and
  // check each entry is still listed.
  std::vector<TComponent*> listeners = FFreeNotifies;
  for (TComponent* c : listeners) {
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), c) == FFreeNotifies.end()) continue;
    c->Notification(this, opRemove);
  }
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount()) throw std::out_of_range("component index out of bounds");
  return FComponents[static_cast<size_t>(Index)];
}

int TComponent::IndexOfComponent(const TComponent* AComponent) const {
  auto it = std::find(FComponents.begin(), FComponents.end(), AComponent);
  return it == FComponents.end() ? -1 : static_cast<int>(it - FComponents.begin());
}

void TComponent::SetDesignMode(bool Value) {
  if (Value)
    FComponentState |= csDesigning;
  else
    FComponentState &= ~csDesigning;
  for (TComponent* c : FComponents) c->SetDesignMode(Value);
}

void TComponent::BeginLoading() {
  FComponentState |= csLoading;
  for (TComponent* c : FComponents) c->BeginLoading();
}

void TComponent::EndLoading() {
  // Owner first, then its components in creation order. A component's Loaded may create
  // further components; those are still loading and are given their turn too.
  Loaded();
  FComponentState &= ~csLoading;
  for (size_t i = 0; i < FComponents.size(); ++i) {
    TComponent* c = FComponents[i];
    if (!c->Loading()) continue;
    c->EndLoading();
  }
}

void TComponent::Loaded() { FComponentState &= ~csLoading; }

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) {
    auto& v = FFreeNotifies;
    v.erase(std::remove(v.begin(), v.end(), AComponent), v.end());
  }
  // The owned components hear it too (a drop target learns that a control of its form goes).
  std::vector<TComponent*> owned = FComponents;
  for (TComponent* c : owned)
    if (c != AComponent && IndexOfComponent(c) >= 0) c->Notification(AComponent, Operation);
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    Free(c);  // its destructor takes it off our list
    if (!FComponents.empty() && FComponents.back() == c) FComponents.pop_back();
  }
}

void TComponent::InsertComponent(TComponent* AComponent) {
  AComponent->FOwner = this;
  FComponents.push_back(AComponent);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  Notification(AComponent, opRemove);
  auto it = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (it != FComponents.end()) FComponents.erase(it);
  AComponent->FOwner = nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  // Both sides keep the other, so that whichever goes first unhooks the pair.
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  auto& v = AComponent->FFreeNotifies;
  if (std::find(v.begin(), v.end(), this) == v.end()) v.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent), FFreeNotifies.end());
  auto& v = AComponent->FFreeNotifies;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
}
