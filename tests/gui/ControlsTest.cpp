// Forms and controls as real windows: handles on demand, radio group and check box state,
// label sizing, anchors, DPI scaling, timers, busy cursor, message box, error guard.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Dialogs.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "WinTestKit.h"

namespace {
using wintest::Pump;

std::wstring WindowText(HWND w) {
  wchar_t buf[512] = {};
  GetWindowTextW(w, buf, 512);
  return buf;
}

using wintest::ChildRect;

std::vector<std::wstring> gEvents;

class TTestForm : public TForm {
 public:
  explicit TTestForm(TComponent* AOwner) : TForm(AOwner) {
    BeginLoading();
    SetName(L"TestForm");
    SetBorderStyle(bsDialog);
    SetPosition(poDefaultPosOnly);
    SetCaption(L"GuiTest");
    SetClientWidth(301);
    SetClientHeight(129);
    SetShowHint(true);
    Label = new TLabel(this);
    Label->SetParent(this);
    Label->SetBounds(8, 8, 43, 13);
    Label->SetCaption(L"Status...");
    Button = new TButton(this);
    Button->SetParent(this);
    Button->SetBounds(220, 96, 73, 25);
    Button->SetCaption(L"Close");
    Button->SetAnchors(akRight | akBottom);
    Button->SetTabOrder(0);
    Group = new TRadioGroup(this);
    Group->SetParent(this);
    Group->SetBounds(8, 72, 121, 41);
    Group->SetCaption(L"Save format");
    Group->SetColumns(2);
    Group->SetItems({L"PNG", L"TIFF"});
    Group->SetItemIndex(1);
    Group->SetHint(L"group tip");
    Group->SetTabOrder(1);
    Check = new TCheckBox(this);
    Check->SetParent(this);
    Check->SetBounds(12, 45, 105, 17);
    Check->SetCaption(L"Beep when done");
    Check->SetTabOrder(2);
    Group->OnClick = [this](TObject*) { ++GroupClicks; };
    Check->OnClick = [this](TObject*) { ++CheckClicks; };
    OnCreate = [this](TObject*) { gEvents.push_back(HandleAllocated() ? L"create+handle" : L"create"); };
    OnShow = [this](TObject*) { gEvents.push_back(IsWindowVisible(FHandle) ? L"show visible" : L"show hidden"); };
    OnDestroy = [this](TObject*) {
      gEvents.push_back(std::wstring(L"destroy") + (HandleAllocated() ? L"+handle" : L"") +
                        (ComponentCount() == 4 ? L"+controls" : L""));
    };
    EndLoading();
  }
  TLabel* Label;
  TButton* Button;
  TRadioGroup* Group;
  TCheckBox* Check;
  int GroupClicks = 0;
  int CheckClicks = 0;
};

class Gui : public ::testing::Test {
 protected:
  void SetUp() override {
    GuiInitialize();
    Application->SetTitle(L"GuiTitle");
    Application->OnException = [this](const std::exception* e) { Errors.push_back(e ? e->what() : "?"); };
    gEvents.clear();
  }
  void TearDown() override { GuiFinalize(); }
  std::vector<std::string> Errors;
};
}  // namespace

TEST_F(Gui, FormCreatesItsWindowOnDemandAndLaysOutRealChildWindows) {
  auto* f = CreateForm<TTestForm>(Application);
  EXPECT_FALSE(f->HandleAllocated());
  EXPECT_EQ(gEvents, (std::vector<std::wstring>{L"create"}));
  HWND w = f->Handle();
  ASSERT_TRUE(IsWindow(w));
  EXPECT_TRUE(f->Label->HandleAllocated());  // children come with the form's window
  EXPECT_EQ(TWinControl::FindControl(w), f);
  EXPECT_EQ(WindowText(w), L"GuiTest");
  int ppi = f->CurrentPPI();
  RECT c{};
  GetClientRect(w, &c);
  EXPECT_EQ(c.right, ScaleForDpi(301, ppi));
  EXPECT_EQ(c.bottom, ScaleForDpi(129, ppi));
  EXPECT_EQ(GetWindowLongPtrW(w, GWL_STYLE) & WS_THICKFRAME, 0);  // fixed border

  wchar_t cls[64];
  GetClassNameW(f->Button->Handle(), cls, 64);
  EXPECT_STREQ(cls, L"Button");
  GetClassNameW(f->Label->Handle(), cls, 64);
  EXPECT_STREQ(cls, L"Static");
  RECT b = ChildRect(f->Button->Handle());
  EXPECT_EQ(b.left, ScaleForDpi(220, ppi));
  EXPECT_EQ(b.top, ScaleForDpi(96, ppi));
  EXPECT_EQ(b.right - b.left, ScaleForDpi(73, ppi));
  EXPECT_EQ(WindowText(f->Check->Handle()), L"Beep when done");
  ASSERT_EQ(f->Group->Buttons().size(), 2u);
  EXPECT_EQ(WindowText(f->Group->Buttons()[0]), L"PNG");
  EXPECT_EQ(SendMessageW(f->Group->Buttons()[1], BM_GETCHECK, 0, 0), BST_CHECKED);

  // Child windows follow the tab order: the label (no tab stop) first, then 0, 1, 2.
  std::vector<HWND> kids;
  for (HWND k = GetWindow(w, GW_CHILD); k; k = GetWindow(k, GW_HWNDNEXT)) kids.push_back(k);
  ASSERT_GE(kids.size(), 4u);
  EXPECT_EQ(kids[0], f->Label->Handle());
  EXPECT_EQ(kids[1], f->Button->Handle());
  EXPECT_EQ(kids[2], f->Group->Handle());
  EXPECT_EQ(kids[3], f->Check->Handle());
}

TEST_F(Gui, EventsRunInOrderAroundTheWindowsLife) {
  auto* f = CreateForm<TTestForm>(Application);
  f->Show();
  EXPECT_TRUE(IsWindowVisible(f->Handle()));
  HWND w = f->Handle();
  TComponent::Free(f);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_EQ(gEvents, (std::vector<std::wstring>{L"create", L"show hidden", L"destroy+handle+controls"}));
}

TEST_F(Gui, RadioGroupSetterMakesTheWindowsClampsAndClicksOnlyOnChange) {
  auto* f = CreateForm<TTestForm>(Application);
  ASSERT_FALSE(f->HandleAllocated());
  f->Group->SetItemIndex(1);  // same as the layout
  EXPECT_TRUE(f->HandleAllocated());
  EXPECT_TRUE(f->Group->HandleAllocated());
  EXPECT_EQ(f->GroupClicks, 0);

  f->Group->SetItemIndex(7);  // clamps to the last item, which is already selected
  EXPECT_EQ(f->Group->ItemIndex(), 1);
  EXPECT_EQ(f->GroupClicks, 0);

  f->Group->SetItemIndex(-5);
  EXPECT_EQ(f->Group->ItemIndex(), -1);
  EXPECT_EQ(f->GroupClicks, 1);
  for (HWND b : f->Group->Buttons()) EXPECT_EQ(SendMessageW(b, BM_GETCHECK, 0, 0), BST_UNCHECKED);

  f->Group->SetItemIndex(0);
  EXPECT_EQ(SendMessageW(f->Group->Buttons()[0], BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(f->GroupClicks, 2);

  // A user's click reaches the group through the reflected notification.
  SendMessageW(f->Group->Buttons()[1], BM_CLICK, 0, 0);
  EXPECT_EQ(f->Group->ItemIndex(), 1);
  EXPECT_EQ(SendMessageW(f->Group->Buttons()[0], BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(f->GroupClicks, 3);

  // The selection outlives the window, and comes back with a new one.
  f->DestroyHandle();
  EXPECT_EQ(f->Group->ItemIndex(), 1);
  f->HandleNeeded();
  EXPECT_EQ(SendMessageW(f->Group->Buttons()[1], BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(Gui, RadioGroupWithoutParentOrItemsStillClamps) {
  auto* g = new TRadioGroup(Application);
  g->SetItemIndex(3);
  EXPECT_EQ(g->ItemIndex(), -1);  // no items: nothing to select
  EXPECT_FALSE(g->HandleAllocated());
  g->SetItems({L"a", L"b", L"c"});
  g->SetItemIndex(3);
  EXPECT_EQ(g->ItemIndex(), 2);
  // While a layout is read the value is only stored.
  g->BeginLoading();
  g->SetItemIndex(9);
  EXPECT_EQ(g->ItemIndex(), 9);
  g->EndLoading();
}

TEST_F(Gui, CheckBoxKeepsItsStateAndClicksOnChange) {
  auto* f = CreateForm<TTestForm>(Application);
  EXPECT_FALSE(f->Check->Checked());
  f->Check->SetChecked(true);
  f->Check->SetChecked(true);
  EXPECT_EQ(f->CheckClicks, 1);
  EXPECT_FALSE(f->HandleAllocated());  // no window needed for a check box's state
  HWND cb = f->Check->Handle();
  EXPECT_EQ(SendMessageW(cb, BM_GETCHECK, 0, 0), BST_CHECKED);
  SendMessageW(cb, BM_CLICK, 0, 0);
  EXPECT_FALSE(f->Check->Checked());
  EXPECT_EQ(f->CheckClicks, 2);
  SendMessageW(cb, BM_SETCHECK, BST_CHECKED, 0);  // no notification: the window is asked
  f->DestroyHandle();
  EXPECT_TRUE(f->Check->Checked());
}

TEST_F(Gui, LabelSizesItselfToOneOrTwoLines) {
  auto* f = CreateForm<TTestForm>(Application);
  f->HandleNeeded();
  TLabel* l = f->Label;
  l->SetCaption(L"Drop a .JP2 file to process");
  int oneLine = l->Height();
  int wide = l->Width();
  EXPECT_GT(oneLine, 5);
  l->SetCaption(L"Drop a .JP2 file to process\nThis program WILL take a long time to run");
  EXPECT_GE(l->Height(), 2 * oneLine - 1);
  EXPECT_GT(l->Width(), wide);
  RECT r = ChildRect(l->Handle());
  EXPECT_EQ(r.right - r.left, l->Width());
  EXPECT_EQ(r.bottom - r.top, l->Height());
  EXPECT_EQ(WindowText(l->Handle()), L"Drop a .JP2 file to process\nThis program WILL take a long time to run");
  l->SetCaption(L"Status...");
  EXPECT_EQ(l->Height(), oneLine);
  EXPECT_EQ(l->Caption(), L"Status...");
}

TEST_F(Gui, HintsGoToTheFormsToolTipControl) {
  auto* f = CreateForm<TTestForm>(Application);
  f->HandleNeeded();
  HWND tip = f->ToolTipHandle();
  ASSERT_TRUE(tip);
  // The group and its two buttons carry the group's tip.
  EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 3);
  f->Label->SetHint(L"durations");
  EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 4);
  f->Label->SetShowHint(false);
  EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 3);
}

TEST_F(Gui, AnchoredButtonFollowsTheRightAndBottomEdges) {
  auto* f = CreateForm<TTestForm>(Application);
  f->HandleNeeded();
  int l = f->Button->Left(), t = f->Button->Top();
  int gl = f->Group->Left();
  f->SetClientWidth(f->ClientWidth() + 40);
  f->SetClientHeight(f->ClientHeight() + 10);
  EXPECT_EQ(f->Button->Left(), l + 40);
  EXPECT_EQ(f->Button->Top(), t + 10);
  EXPECT_EQ(f->Group->Left(), gl);
  EXPECT_EQ(ChildRect(f->Button->Handle()).left, l + 40);
}

TEST_F(Gui, ScalingFollowsTheScreensDpi) {
  EXPECT_EQ(ScaleForDpi(301, 96), 301);
  EXPECT_EQ(ScaleForDpi(301, 144), 452);  // 451.5 rounds up
  EXPECT_EQ(ScaleForDpi(-11, 120), -14);
  EXPECT_EQ(ScaleForDpi(13, 192), 26);
  EXPECT_GT(SystemDpi(), 0);

  auto* f = CreateForm<TTestForm>(Application);
  f->HandleNeeded();
  int ppi = f->CurrentPPI();
  f->ScaleForPPI(2 * ppi);
  EXPECT_EQ(f->CurrentPPI(), 2 * ppi);
  EXPECT_EQ(f->Button->Left(), 2 * ScaleForDpi(220, ppi));
  EXPECT_EQ(f->Button->Width(), 2 * ScaleForDpi(73, ppi));
  EXPECT_EQ(f->ClientWidth(), 2 * ScaleForDpi(301, ppi));
  EXPECT_EQ(ChildRect(f->Group->Handle()).top, 2 * ScaleForDpi(72, ppi));
  f->ScaleForPPI(ppi);
  EXPECT_EQ(f->Button->Left(), ScaleForDpi(220, ppi));
  EXPECT_EQ(f->ClientHeight(), ScaleForDpi(129, ppi));
}

TEST_F(Gui, TimerIsOneShotWhenItsHandlerStopsItAndReEnablingDoesNotRestart) {
  auto* t = new TTimer(Application);
  t->SetEnabled(false);
  t->SetInterval(300);
  int ticks = 0;
  DWORD tickAt = 0;
  t->SetOnTimer([&](TObject* sender) {
    ++ticks;
    tickAt = GetTickCount();
    static_cast<TTimer*>(sender)->SetEnabled(false);
  });
  EXPECT_FALSE(t->Running());
  DWORD start = GetTickCount();
  t->SetEnabled(true);
  Pump(200);
  t->SetEnabled(true);  // already running: the first interval stands
  Pump(500);
  EXPECT_EQ(ticks, 1);
  // A restart at 200 ms would have ticked at 500 ms or later.
  EXPECT_LT(tickAt - start, 480u);
  EXPECT_FALSE(t->Running());

  // No handler, no ticking.
  auto* idle = new TTimer(Application);
  idle->SetInterval(10);
  EXPECT_FALSE(idle->Running());
}

TEST_F(Gui, BusyCursorIsApplicationWide) {
  auto* f = CreateForm<TTestForm>(Application);
  f->HandleNeeded();
  TCursor before = Screen->Cursor();
  EXPECT_EQ(before, crDefault);
  Screen->SetCursor(crHourGlass);
  EXPECT_EQ(Screen->Cursor(), crHourGlass);
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
  // Every framework window answers WM_SETCURSOR with the hourglass.
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  SendMessageW(f->Check->Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(f->Check->Handle()),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
  Screen->SetCursor(before);
  EXPECT_EQ(Screen->Cursor(), crDefault);
  EXPECT_EQ(Screen->CursorHandle(), nullptr);
}

namespace {
// A windowed control shaped by its own window operations, as a drop target's proxy is.
class TProbeChild : public TWinControl {
 public:
  explicit TProbeChild(TComponent* AOwner) : TWinControl(AOwner) {}
  ~TProbeChild() override { DestroyHandle(); }
  std::vector<std::wstring> Log;
  DWORD ExStyleSeen = 0;
  bool ParentAliveAtDestroy = false;

 protected:
  void CreateParams(TCreateParams& Params) override {
    TWinControl::CreateParams(Params);
    Params.ExStyle |= WS_EX_TRANSPARENT;
    Log.push_back(L"params");
  }
  void CreateWnd() override {
    TWinControl::CreateWnd();
    ExStyleSeen = static_cast<DWORD>(GetWindowLongPtrW(FHandle, GWL_EXSTYLE));
    Log.push_back(L"create");
    SetVisible(false);
    SetWidth(0);
  }
  void DestroyWnd() override {
    ParentAliveAtDestroy = Parent() && Parent()->HandleAllocated() && IsWindow(Parent()->Handle());
    Log.push_back(L"destroy");
    SetVisible(true);
    TWinControl::DestroyWnd();
  }
  LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override {
    if (Msg == WM_APP) throw std::runtime_error("boom");
    return TWinControl::WndProc(Msg, wParam, lParam);
  }
};
}  // namespace

TEST_F(Gui, SubclassShapesItsWindowAndGoesBeforeItsParent) {
  auto* f = CreateForm<TTestForm>(Application);
  auto* early = new TProbeChild(f);
  early->SetParent(f);
  EXPECT_TRUE(early->Log.empty());  // no window yet: the parent has none
  f->HandleNeeded();
  EXPECT_EQ(early->Log, (std::vector<std::wstring>{L"params", L"create"}));

  auto* late = new TProbeChild(f);
  late->SetParent(f);  // the parent has a window: the child's is made at once
  ASSERT_TRUE(late->HandleAllocated());
  EXPECT_EQ(GetParent(late->Handle()), f->Handle());
  EXPECT_TRUE(late->ExStyleSeen & WS_EX_TRANSPARENT);
  EXPECT_FALSE(IsWindowVisible(late->Handle()));
  EXPECT_EQ(late->Width(), 0);
  EXPECT_EQ(f->Controls(f->ControlCount() - 1), late);

  // Detaching destroys the window while the parent's still exists.
  late->SetParent(nullptr);
  EXPECT_FALSE(late->HandleAllocated());
  EXPECT_TRUE(late->ParentAliveAtDestroy);
  EXPECT_TRUE(late->Visible());
  TComponent::Free(late);

  // An error in a window procedure stops at the boundary and is reported.
  SendMessageW(early->Handle(), WM_APP, 0, 0);
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0], "boom");

  // The form's window goes after its children's.
  f->DestroyHandle();
  EXPECT_EQ(early->Log.back(), L"destroy");
  EXPECT_TRUE(early->ParentAliveAtDestroy);
}

// Waits on a thread of its own for the message box captioned with the title, reads it and
// presses OK.
struct TMessageBoxWatcher {
  explicit TMessageBoxWatcher(HWND Main)
      : Thread([this, Main] {
          for (int i = 0; i < 200; ++i) {
            HWND box = FindWindowW(L"#32770", L"GuiTitle");
            if (box) {
              Found = true;
              MainDisabled = !IsWindowEnabled(Main);
              wchar_t buf[256] = {};
              GetDlgItemTextW(box, 0xFFFF, buf, 256);  // the static text of a message box
              Text = buf;
              HasIcon = GetDlgItem(box, 0x14) != nullptr && IsWindowVisible(GetDlgItem(box, 0x14));
              PostMessageW(box, WM_COMMAND, IDOK, 0);
              return;
            }
            Sleep(25);
          }
        }) {}
  void Join() { Thread.join(); }
  std::atomic<bool> Found{false}, MainDisabled{false}, HasIcon{true};
  std::wstring Text;
  std::thread Thread;  // last: it starts once the rest exists
};

TEST_F(Gui, MessageBoxIsCaptionedWithTheTitleHasNoIconAndDisablesTheForm) {
  auto* f = CreateForm<TTestForm>(Application);
  f->Show();
  HWND main = f->Handle();
  TMessageBoxWatcher box(main);
  ShowMessage(L"Production of 48-bit TIF  complete!");
  box.Join();
  EXPECT_TRUE(box.Found);
  EXPECT_TRUE(box.MainDisabled);
  EXPECT_FALSE(box.HasIcon);
  EXPECT_EQ(box.Text, L"Production of 48-bit TIF  complete!");
  EXPECT_TRUE(IsWindowEnabled(main));
}

TEST_F(Gui, AnErrorInAHandlerReachesTheUserWithItsTextIntact) {
  Application->OnException = nullptr;  // the application's own report: a message box
  auto* f = CreateForm<TTestForm>(Application);
  f->Show();
  f->Button->OnClick = [](TObject*) { throw std::runtime_error("Datei \xC3\xA4\xE2\x82\xAC fehlt"); };
  TMessageBoxWatcher box(f->Handle());
  SendMessageW(f->Button->Handle(), BM_CLICK, 0, 0);
  box.Join();
  EXPECT_TRUE(box.Found);
  EXPECT_EQ(box.Text, L"Datei \u00E4\u20AC fehlt") << "UTF-8, not widened byte by byte";
}

TEST_F(Gui, MinimisedFormStillAnswersItsNormalPlacement) {
  auto* f = CreateForm<TTestForm>(Application);
  f->Show();
  f->SetBounds(120, 90, f->Width(), f->Height());
  const int width = f->Width(), height = f->Height();
  const int clientWidth = f->ClientWidth(), clientHeight = f->ClientHeight();
  ASSERT_GT(clientWidth, 0);
  f->SetWindowState(wsMinimized);
  ASSERT_TRUE(IsIconic(f->Handle()));
  EXPECT_EQ(f->WindowState(), wsMinimized);
  // What a placement record stores when the window is closed from the task bar.
  EXPECT_EQ(f->Left(), 120);
  EXPECT_EQ(f->Top(), 90);
  EXPECT_EQ(f->Width(), width);
  EXPECT_EQ(f->Height(), height);
  EXPECT_EQ(f->ClientWidth(), clientWidth);
  EXPECT_EQ(f->ClientHeight(), clientHeight);
  // Moved or resized while minimised, it comes back with the new placement.
  f->SetBounds(140, 100, width, height);
  f->SetClientWidth(clientWidth + 20);
  EXPECT_TRUE(IsIconic(f->Handle()));
  EXPECT_EQ(f->Left(), 140);
  EXPECT_EQ(f->ClientWidth(), clientWidth + 20);
  f->SetWindowState(wsNormal);
  ASSERT_FALSE(IsIconic(f->Handle()));
  RECT r{};
  GetWindowRect(f->Handle(), &r);
  EXPECT_EQ(r.left, 140);
  EXPECT_EQ(r.top, 100);
  GetClientRect(f->Handle(), &r);
  EXPECT_EQ(r.right, clientWidth + 20);
  EXPECT_EQ(r.bottom, clientHeight);
  f->SetBounds(120, 90, width, height);
  f->SetClientWidth(clientWidth);
  f->SetWindowState(wsMinimized);
  // And once its window is gone.
  f->DestroyHandle();
  EXPECT_EQ(f->Left(), 120);
  EXPECT_EQ(f->Width(), width);
  EXPECT_EQ(f->ClientHeight(), clientHeight);
  EXPECT_EQ(f->WindowState(), wsMinimized);
}

TEST_F(Gui, EndOfSessionDestroysTheIdleMainFormAtOnce) {
  TTestForm* f = nullptr;
  Application->CreateForm(f);
  f->Show();
  HWND w = f->Handle();
  // Inside a handler (a long job looking at its queue) the form is still in use: it stays.
  SendMessageW(w, WM_ENDSESSION, TRUE, 0);
  ASSERT_TRUE(IsWindow(w));
  EXPECT_FALSE(Application->Terminated());

  // Logging off while the loop waits: the process may be ended as soon as the message
  // returns, so the form is gone by then.
  std::atomic<bool> goneOnReturn{false};
  std::thread system([&] {
    Sleep(200);
    DWORD_PTR r = 0;
    SendMessageTimeoutW(w, WM_ENDSESSION, TRUE, 0, SMTO_BLOCK, 5000, &r);
    goneOnReturn = !IsWindow(w);
    if (IsWindow(w)) PostMessageW(w, WM_CLOSE, 0, 0);  // let the loop end anyway
  });
  Application->Run();
  system.join();
  EXPECT_TRUE(goneOnReturn);
  EXPECT_EQ(Application->MainForm(), nullptr);
  EXPECT_EQ(gEvents, (std::vector<std::wstring>{L"create", L"show hidden", L"show visible", L"destroy+handle+controls"}));

  // A session that goes on leaves everything as it is.
  TTestForm* g = nullptr;
  Application->CreateForm(g);
  SendMessageW(g->Handle(), WM_ENDSESSION, FALSE, 0);
  EXPECT_TRUE(IsWindow(g->Handle()));
}
