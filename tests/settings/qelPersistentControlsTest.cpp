// The placement record and the self-persisting radio group and check box, on real windows
// and the real registry of the test's Wine prefix.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Forms.h"
#include "RegistryTestKit.h"
#include "qelCheckBox.h"
#include "qelRadioGroup.h"
#include "qelRegistryKey.h"
#include "qelRegistryVariables.h"

namespace {

class Settings : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { GuiInitialize(); }
  static void TearDownTestSuite() { GuiFinalize(); }

  void SetUp() override {
    qelRegistryVariablesInitialize();
    FKey = regkit::ProgramKey(RegistryVendor);
    regkit::DeleteKey(RegistryRoot, FKey);
  }
  void TearDown() override {
    qelRegistry::SetChangeObserver(nullptr);
    regkit::DeleteKey(RegistryRoot, FKey);
  }

  std::optional<uint32_t> Stored(const std::wstring& name) const {
    return regkit::ReadDword(RegistryRoot, FKey, name);
  }
  void Store(const std::wstring& name, uint32_t value) const {
    ASSERT_TRUE(regkit::WriteDword(RegistryRoot, FKey, name, value));
  }
  bool KeyExists() const { return regkit::KeyExists(RegistryRoot, FKey); }

  std::wstring FKey;
};

// ---------------------------------------------------------------------------------------
// Placement record

TForm* NewWindow(int left, int top) {
  TForm* form = new TForm(nullptr);
  form->SetCaption(L"Placement");
  form->SetClientWidth(300);
  form->SetClientHeight(170);
  form->SetBounds(left, top, 320, 200);
  form->HandleNeeded();
  return form;
}

const wchar_t* const kPlacementNames[] = {L"FormState",  L"FormLeft",        L"FormTop",
                                          L"FormWidth",  L"FormHeight",      L"FormClientWidth",
                                          L"FormClientHeight"};

TEST_F(Settings, FirstRunRestoresTheWindowsOwnPlacement) {
  TForm* form = NewWindow(40, 60);
  auto info = std::make_unique<TRegistryFormInfo>(form);
  EXPECT_FALSE(KeyExists()) << "creating the record reads only";
  form->SetBounds(500, 400, 320, 200);
  info->GetSavedLocationOnly();
  EXPECT_EQ(form->Left(), 40);
  EXPECT_EQ(form->Top(), 60);
  EXPECT_EQ(info->WindowState(), wsNormal);
  info.reset();
  for (const wchar_t* name : kPlacementNames)
    EXPECT_TRUE(Stored(name)) << "release writes every value, changed or not: " << name;
  TComponent::Free(form);
}

TEST_F(Settings, ReleaseStoresThePlacementOfThatMomentInOrder) {
  TForm* form = NewWindow(10, 10);
  auto info = std::make_unique<TRegistryFormInfo>(form);
  form->SetBounds(300, 200, 330, 210);  // moved after the record was made
  const int clientWidth = form->ClientWidth();
  const int clientHeight = form->ClientHeight();

  std::vector<std::wstring> written;
  qelRegistry::SetChangeObserver([&](qelRegistry::TRegChange change, const std::wstring& name,
                                     DWORD) {
    if (change == qelRegistry::TRegChange::Write) written.push_back(name);
  });
  info.reset();
  qelRegistry::SetChangeObserver(nullptr);
  EXPECT_EQ(written, std::vector<std::wstring>(std::begin(kPlacementNames),
                                               std::end(kPlacementNames)));
  EXPECT_EQ(Stored(L"FormState"), 0u);
  EXPECT_EQ(Stored(L"FormLeft"), 300u);
  EXPECT_EQ(Stored(L"FormTop"), 200u);
  EXPECT_EQ(Stored(L"FormWidth"), 330u);
  EXPECT_EQ(Stored(L"FormHeight"), 210u);
  EXPECT_EQ(Stored(L"FormClientWidth"), uint32_t(clientWidth));
  EXPECT_EQ(Stored(L"FormClientHeight"), uint32_t(clientHeight));
  EXPECT_LT(clientWidth, 330);  // client and outer sizes really are different properties
  TComponent::Free(form);

  // The next run comes back there, wherever it was placed first.
  TForm* next = NewWindow(20, 30);
  const int width = next->Width();
  Store(L"FormLeft", 500);
  {
    TRegistryFormInfo again(next);
    again.GetSavedLocationOnly();
    EXPECT_EQ(next->Left(), 500);
    EXPECT_EQ(next->Top(), 200);
    EXPECT_EQ(next->Width(), width) << "only the location is restored";
  }
  TComponent::Free(next);
}

TEST_F(Settings, FlushWritesNowAndRestoresApplySize) {
  TForm* form = NewWindow(50, 50);
  auto info = std::make_unique<TRegistryFormInfo>(form);
  form->SetBounds(70, 80, 320, 200);
  info->Flush();
  EXPECT_EQ(Stored(L"FormLeft"), 70u);
  EXPECT_EQ(Stored(L"FormTop"), 80u);
  form->SetBounds(90, 95, 300, 190);
  info->Flush();  // the values stay alive and can be flushed again
  EXPECT_EQ(Stored(L"FormLeft"), 90u);
  info.reset();

  Store(L"FormState", 0);
  Store(L"FormLeft", 120);
  Store(L"FormTop", 130);
  Store(L"FormClientWidth", 401);
  Store(L"FormClientHeight", 251);
  Store(L"FormWidth", 999);
  auto stored = std::make_unique<TRegistryFormInfo>(form);
  stored->GetSavedSizeOnly();
  EXPECT_EQ(form->ClientWidth(), 401);
  EXPECT_EQ(form->ClientHeight(), 251);
  EXPECT_EQ(form->Left(), 90) << "size only";
  form->SetClientWidth(200);
  stored->GetSavedPosition();
  EXPECT_EQ(form->Left(), 120);
  EXPECT_EQ(form->Top(), 130);
  EXPECT_EQ(form->ClientWidth(), 401);
  EXPECT_EQ(form->ClientHeight(), 251);
  EXPECT_NE(form->Width(), 999) << "the stored outer size is never applied";
  stored.reset();
  TComponent::Free(form);
}

TEST_F(Settings, AWindowClosedMinimisedIsStoredWithItsNormalPlacement) {
  TForm* form = NewWindow(60, 70);
  form->Show();
  form->SetBounds(60, 70, 320, 200);
  const int clientWidth = form->ClientWidth(), clientHeight = form->ClientHeight();
  auto info = std::make_unique<TRegistryFormInfo>(form);
  form->SetWindowState(wsMinimized);
  ASSERT_TRUE(IsIconic(form->Handle()));
  info.reset();
  EXPECT_EQ(Stored(L"FormState"), 1u);
  EXPECT_EQ(Stored(L"FormLeft"), 60u);
  EXPECT_EQ(Stored(L"FormTop"), 70u);
  EXPECT_EQ(Stored(L"FormWidth"), 320u);
  EXPECT_EQ(Stored(L"FormHeight"), 200u);
  EXPECT_EQ(Stored(L"FormClientWidth"), uint32_t(clientWidth));
  EXPECT_EQ(Stored(L"FormClientHeight"), uint32_t(clientHeight));
  TComponent::Free(form);
}

// A task bar on the left and at the top: the primary monitor's work area, set for the test
// and put back afterwards.
class TaskBarLeftAndTop {
 public:
  TaskBarLeftAndTop() {
    GetWindowRect(GetDesktopWindow(), &FScreen);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &FOld, 0);
    RECT area{FScreen.left + 100, FScreen.top + 50, FScreen.right, FScreen.bottom};
    FSet = SystemParametersInfoW(SPI_SETWORKAREA, 0, &area, 0);
  }
  ~TaskBarLeftAndTop() { SystemParametersInfoW(SPI_SETWORKAREA, 0, &FOld, 0); }
  bool Set() const { return FSet != FALSE; }
  const RECT& Screen() const { return FScreen; }

 private:
  RECT FScreen{}, FOld{};
  BOOL FSet = FALSE;
};

TEST_F(Settings, AStoredPlacementNoWorkAreaShowsComesBackOntoTheNearestOne) {
  TaskBarLeftAndTop taskBar;
  ASSERT_TRUE(taskBar.Set());
  const RECT& screen = taskBar.Screen();
  TForm* form = NewWindow(200, 200);
  const int width = form->Width(), height = form->Height();
  struct Case {
    int left, top, wantLeft, wantTop;
  };
  const Case cases[] = {
      // a monitor removed on the right, or a lower resolution
      {screen.right + 500, screen.bottom + 400, screen.right - width, screen.bottom - height},
      {-5000, -4000, 100, 50},
      // on the monitor, but wholly under the task bar
      {100 - width - 10, 300, 100, 300},
      // partly shown: left where it was
      {screen.right - 40, 300, screen.right - 40, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "stored at " << c.left << ", " << c.top);
    Store(L"FormLeft", static_cast<uint32_t>(c.left));
    Store(L"FormTop", static_cast<uint32_t>(c.top));
    TRegistryFormInfo info(form);
    info.GetSavedLocationOnly();
    EXPECT_EQ(form->Left(), c.wantLeft);
    EXPECT_EQ(form->Top(), c.wantTop);
    EXPECT_EQ(form->Width(), width) << "the size is kept";
    EXPECT_EQ(form->Height(), height);
  }
  TComponent::Free(form);
}

TEST_F(Settings, ClosingMinimisedWithATaskBarOnTheLeftNeverWalksTheWindow) {
  TaskBarLeftAndTop taskBar;
  ASSERT_TRUE(taskBar.Set());
  Store(L"FormLeft", 300);
  Store(L"FormTop", 200);
  for (int run = 1; run <= 3; ++run) {
    SCOPED_TRACE(testing::Message() << "run " << run);
    TForm* form = NewWindow(20, 20);
    form->Show();
    auto info = std::make_unique<TRegistryFormInfo>(form);
    info->GetSavedLocationOnly();
    form->SetWindowState(wsMinimized);
    ASSERT_TRUE(IsIconic(form->Handle()));
    info.reset();
    EXPECT_EQ(Stored(L"FormLeft"), 300u) << "stored in screen coordinates";
    EXPECT_EQ(Stored(L"FormTop"), 200u);
    form->SetWindowState(wsNormal);
    RECT shown{};
    GetWindowRect(form->Handle(), &shown);
    EXPECT_EQ(shown.left, 300) << "restored where it was";
    EXPECT_EQ(shown.top, 200);
    TComponent::Free(form);
  }
}

TEST_F(Settings, StoredStateUsesItsLowByte) {
  Store(L"FormState", 258);
  TForm* form = NewWindow(0, 0);
  {
    TRegistryFormInfo info(form);
    EXPECT_EQ(info.WindowState(), wsMaximized);
  }
  EXPECT_EQ(Stored(L"FormState"), 0u) << "the window's own state is what is written back";
  TComponent::Free(form);
}

TEST_F(Settings, SubNamePrefixesValueNamesInTheSameKey) {
  Store(L"Main/FormLeft", 77);
  TForm* form = NewWindow(10, 20);
  {
    TRegistryFormInfo main(form, L"Main");
    TRegistryFormInfo unnamed(form, L"");
    main.GetSavedLocationOnly();
    EXPECT_EQ(form->Left(), 77);
  }
  for (const wchar_t* name : kPlacementNames) {
    const std::wstring n = name;
    EXPECT_TRUE(Stored(L"Main/" + n)) << "Main/" << name;
    EXPECT_TRUE(Stored(L"/" + n)) << "/" << name;
    EXPECT_FALSE(Stored(n)) << name;
  }
  EXPECT_FALSE(regkit::KeyExists(RegistryRoot, FKey + L"\\Main")) << "'/' makes no subkey";
  TComponent::Free(form);
}

// ---------------------------------------------------------------------------------------
// Self-persisting controls, built the way a window layout builds them.

struct Layout {
  TForm* form = nullptr;
  TqelRadioGroup* group = nullptr;
  TqelCheckBox* box = nullptr;
  int groupClicks = 0;
  int boxClicks = 0;
};

void BuildLayout(Layout& l, const std::wstring& groupNamedAs = L"SaveFormat",
                 const std::wstring& boxNamedAs = L"BeepWhenDone", bool designing = false) {
  l.form = new TForm(nullptr);
  l.form->SetBounds(30, 30, 320, 180);
  l.form->BeginLoading();
  l.group = new TqelRadioGroup(l.form);
  l.group->SetName(L"RadioGroupSaveFormat");
  l.group->SetParent(l.form);
  l.group->SetBounds(8, 72, 121, 41);
  l.group->SetColumns(2);
  l.group->SetItems({L"PNG", L"TIFF"});
  l.group->SetItemIndex(1);
  l.group->SetNamedAs(groupNamedAs);
  l.group->OnClick = [&l](TObject*) { ++l.groupClicks; };
  l.box = new TqelCheckBox(l.form);
  l.box->SetName(L"CheckBoxBeepWhenDone");
  l.box->SetParent(l.form);
  l.box->SetBounds(12, 45, 105, 17);
  l.box->SetChecked(false);
  l.box->SetNamedAs(boxNamedAs);
  l.box->OnClick = [&l](TObject*) { ++l.boxClicks; };
  if (designing) l.form->SetDesignMode(true);
  l.form->EndLoading();
}

// Which radio button the window really shows as selected, -1 for none.
int CheckedButton(TqelRadioGroup* group) {
  int found = -1;
  const auto& buttons = group->Buttons();
  for (size_t i = 0; i < buttons.size(); ++i)
    if (SendMessageW(buttons[i], BM_GETCHECK, 0, 0) == BST_CHECKED) found = static_cast<int>(i);
  return found;
}

TEST_F(Settings, FirstRunKeepsTheLayoutAndWritesAtExit) {
  Layout l;
  BuildLayout(l);
  EXPECT_EQ(l.group->ItemIndex(), 1);
  EXPECT_FALSE(l.box->Checked());
  EXPECT_FALSE(KeyExists()) << "nothing is written while the window runs";
  l.group->SetItemIndex(0);
  l.box->SetChecked(true);
  EXPECT_EQ(l.groupClicks, 1) << "the click handler is back after loading";
  EXPECT_EQ(l.boxClicks, 1);
  EXPECT_FALSE(KeyExists());
  TComponent::Free(l.form);
  EXPECT_EQ(Stored(L"SaveFormat"), 0u);
  EXPECT_EQ(Stored(L"BeepWhenDone"), 1u);
}

TEST_F(Settings, StoredSelectionIsClampedAppliedSilentlyAndWrittenBack) {
  struct Case {
    uint32_t stored;
    int shown;
    uint32_t written;
  };
  const Case cases[] = {{0, 0, 0}, {1, 1, 1}, {7, 1, 1}, {uint32_t(-5), -1, 0xFFFFFFFFu},
                        {uint32_t(-1), -1, 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "stored " << int32_t(c.stored));
    Store(L"SaveFormat", c.stored);
    Layout l;
    BuildLayout(l);
    EXPECT_EQ(l.group->ItemIndex(), c.shown);
    EXPECT_EQ(CheckedButton(l.group), c.shown) << "the window shows the stored choice";
    EXPECT_EQ(l.groupClicks, 0);
    TComponent::Free(l.form);
    EXPECT_EQ(Stored(L"SaveFormat"), c.written);
  }
}

TEST_F(Settings, StoredCheckStateIsAppliedSilentlyAndWrittenAsZeroOrOne) {
  Store(L"BeepWhenDone", 5);
  Layout l;
  BuildLayout(l);
  EXPECT_TRUE(l.box->Checked());
  EXPECT_EQ(SendMessageW(l.box->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(l.boxClicks, 0);
  TComponent::Free(l.form);
  EXPECT_EQ(Stored(L"BeepWhenDone"), 1u);
}

TEST_F(Settings, EmptyNamedAsUsesTheControlsName) {
  Store(L"RadioGroupSaveFormat", 0);
  Layout l;
  BuildLayout(l, L"", L"");
  EXPECT_EQ(l.group->NamedAs(), L"RadioGroupSaveFormat");
  EXPECT_EQ(l.box->NamedAs(), L"CheckBoxBeepWhenDone");
  EXPECT_EQ(l.group->ItemIndex(), 0);
  TComponent::Free(l.form);
  EXPECT_EQ(Stored(L"RadioGroupSaveFormat"), 0u);
  EXPECT_EQ(Stored(L"CheckBoxBeepWhenDone"), 0u);
}

TEST_F(Settings, NamedAsChangedAfterLoadingMovesNothing) {
  Layout l;
  BuildLayout(l);
  l.group->SetNamedAs(L"Elsewhere");
  l.box->SetNamedAs(L"ElsewhereToo");
  l.group->SetItemIndex(0);
  TComponent::Free(l.form);
  EXPECT_EQ(Stored(L"SaveFormat"), 0u);
  EXPECT_TRUE(Stored(L"BeepWhenDone"));
  EXPECT_FALSE(Stored(L"Elsewhere"));
  EXPECT_FALSE(Stored(L"ElsewhereToo"));
}

TEST_F(Settings, ControlsSharingANameShareOneValue) {
  Store(L"Shared", 0);
  TForm* form = new TForm(nullptr);
  form->BeginLoading();
  TqelRadioGroup* groups[2];
  for (auto*& g : groups) {
    g = new TqelRadioGroup(form);
    g->SetParent(form);
    g->SetItems({L"A", L"B", L"C"});
    g->SetItemIndex(2);
    g->SetNamedAs(L"Shared");
  }
  form->EndLoading();
  EXPECT_EQ(groups[0]->ItemIndex(), 0);
  EXPECT_EQ(groups[1]->ItemIndex(), 0);
  groups[0]->SetItemIndex(1);
  groups[1]->SetItemIndex(2);
  TComponent::Free(groups[1]);
  EXPECT_EQ(Stored(L"Shared"), 2u);
  TComponent::Free(groups[0]);  // destroyed last, so its choice stays
  EXPECT_EQ(Stored(L"Shared"), 1u);
  TComponent::Free(form);
}

TEST_F(Settings, SaveSettingsWritesTheSelectionNow) {
  Layout l;
  BuildLayout(l);
  l.group->SetItemIndex(0);
  EXPECT_FALSE(Stored(L"SaveFormat"));
  l.group->SaveSettings();
  EXPECT_EQ(Stored(L"SaveFormat"), 0u);
  EXPECT_FALSE(Stored(L"BeepWhenDone"));
  TComponent::Free(l.form);
}

TEST_F(Settings, WithoutTheAfterLoadStepOrInDesignModeTheRegistryIsUntouched) {
  Store(L"SaveFormat", 0);
  Store(L"BeepWhenDone", 1);
  Layout designed;
  BuildLayout(designed, L"SaveFormat", L"BeepWhenDone", /*designing=*/true);
  EXPECT_EQ(designed.group->ItemIndex(), 1);
  EXPECT_FALSE(designed.box->Checked());
  designed.group->SetItemIndex(1);
  designed.group->SaveSettings();
  TComponent::Free(designed.form);
  EXPECT_EQ(Stored(L"SaveFormat"), 0u);
  EXPECT_EQ(Stored(L"BeepWhenDone"), 1u);

  // Controls made in code, never loaded from a layout.
  TForm* form = new TForm(nullptr);
  auto* group = new TqelRadioGroup(form);
  group->SetParent(form);
  group->SetItems({L"PNG", L"TIFF"});
  group->SetNamedAs(L"SaveFormat");
  group->SetItemIndex(1);
  auto* box = new TqelCheckBox(form);
  box->SetParent(form);
  box->SetNamedAs(L"BeepWhenDone");
  group->SaveSettings();
  TComponent::Free(form);
  EXPECT_EQ(Stored(L"SaveFormat"), 0u);
  EXPECT_EQ(Stored(L"BeepWhenDone"), 1u);
}

}  // namespace
