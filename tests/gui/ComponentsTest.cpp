// Ownership, notifications and the layout-loading bracket.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Classes.h"

namespace {
std::vector<std::wstring> gLog;

class TProbe : public TComponent {
 public:
  TProbe(TComponent* AOwner, const std::wstring& AName, int AValue = 0) : TComponent(AOwner), Value(AValue) {
    SetName(AName);
  }
  // Names of components this one heard of; a newcomer has no name yet when it is announced.
  std::vector<TComponent*> HeardOf;
  ~TProbe() override { gLog.push_back(L"~" + Name()); }
  int Value;
  int ValueAtLoaded = -1;
  int LoadedCalls = 0;
  bool LoadingAtLoaded = false;
  std::vector<std::wstring> Heard;

 protected:
  void Loaded() override {
    LoadingAtLoaded = Loading();
    TComponent::Loaded();
    ++LoadedCalls;
    ValueAtLoaded = Value;
    gLog.push_back(L"Loaded " + Name());
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    Heard.push_back(std::wstring(Operation == opInsert ? L"+" : L"-") + AComponent->Name());
    HeardOf.push_back(AComponent);
    TComponent::Notification(AComponent, Operation);
  }
};
}  // namespace

TEST(Components, OwnerFreesOwnedLastCreatedFirstAndHearsEachComeAndGo) {
  gLog.clear();
  auto* owner = new TProbe(nullptr, L"owner");
  auto* a = new TProbe(owner, L"a");
  auto* b = new TProbe(owner, L"b");
  auto* a1 = new TProbe(a, L"a1");
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(owner->Components(0), a);
  EXPECT_EQ(a->Owner(), owner);
  EXPECT_THROW(owner->Components(2), std::out_of_range);
  EXPECT_EQ(owner->HeardOf, (std::vector<TComponent*>{a, b}));
  // The owned component "a" hears of its sibling's arrival through the owner.
  EXPECT_EQ(a->HeardOf, (std::vector<TComponent*>{b, a1}));
  EXPECT_EQ(a->Heard[0].substr(0, 1), L"+");

  TComponent::Free(owner);
  EXPECT_EQ(gLog, (std::vector<std::wstring>{L"~b", L"~a1", L"~a", L"~owner"}));
}

TEST(Components, FreeingOneOwnedComponentTellsOwnerAndSiblings) {
  auto* owner = new TProbe(nullptr, L"owner");
  auto* a = new TProbe(owner, L"a");
  auto* b = new TProbe(owner, L"b");
  TComponent::Free(a);
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->IndexOfComponent(a), -1);
  EXPECT_EQ(owner->Heard.back(), L"-a");
  EXPECT_EQ(b->Heard.back(), L"-a");
  TComponent::Free(owner);
}

TEST(Components, FreeNotificationReachesListenersOutsideTheOwnerAndUnhooksBothWays) {
  auto* listener = new TProbe(nullptr, L"listener");
  auto* other = new TProbe(nullptr, L"other");
  auto* watched = new TProbe(other, L"watched");
  listener->FreeNotification(watched);
  TComponent::Free(watched);
  EXPECT_EQ(listener->Heard, (std::vector<std::wstring>{L"-watched"}));

  // A listener that goes first is never called later (the sanitizer build would report the
  // freed memory); one that stays still hears.
  auto* shortLived = new TProbe(nullptr, L"short");
  auto* target = new TProbe(nullptr, L"target");
  shortLived->FreeNotification(target);
  listener->FreeNotification(target);
  TComponent::Free(shortLived);
  TComponent::Free(target);
  EXPECT_EQ(listener->Heard, (std::vector<std::wstring>{L"-watched", L"-target"}));
  TComponent::Free(listener);
  TComponent::Free(other);
  TComponent::Free(nullptr);
}

TEST(Components, LoadedRunsOnceAfterAllPropertiesOwnerFirst) {
  gLog.clear();
  auto* form = new TProbe(nullptr, L"form");
  form->BeginLoading();
  EXPECT_TRUE(form->Loading());
  auto* a = new TProbe(form, L"a");
  auto* b = new TProbe(form, L"b");
  EXPECT_TRUE(a->Loading());  // made inside the bracket
  a->Value = 7;               // properties set after creation, as a layout does
  b->Value = 9;
  EXPECT_EQ(a->LoadedCalls, 0);
  form->EndLoading();
  EXPECT_EQ(gLog, (std::vector<std::wstring>{L"Loaded form", L"Loaded a", L"Loaded b"}));
  EXPECT_EQ(a->ValueAtLoaded, 7);
  EXPECT_EQ(b->ValueAtLoaded, 9);
  EXPECT_TRUE(a->LoadingAtLoaded);
  EXPECT_FALSE(a->Loading());
  EXPECT_FALSE(form->Loading());

  // A component made outside a bracket never loads.
  auto* late = new TProbe(form, L"late");
  EXPECT_FALSE(late->Loading());
  EXPECT_EQ(late->LoadedCalls, 0);
  EXPECT_EQ(a->LoadedCalls, 1);
  TComponent::Free(form);
}

TEST(Components, DesignModeFollowsTheOwner) {
  auto* form = new TProbe(nullptr, L"form");
  auto* a = new TProbe(form, L"a");
  form->SetDesignMode(true);
  EXPECT_TRUE(a->DesignMode());
  auto* b = new TProbe(form, L"b");
  EXPECT_TRUE(b->DesignMode());
  form->SetDesignMode(false);
  EXPECT_FALSE(a->DesignMode());
  EXPECT_FALSE(b->DesignMode());
  EXPECT_EQ(form->GetComponentUnknown(), nullptr);
  TComponent::Free(form);
}
