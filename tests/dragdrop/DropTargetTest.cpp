// The drop target on a window of its own: the IDropTarget operations driven directly with fake
// data objects, the registration through the proxy window, and real OLE drags.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <stdexcept>

#include "DragDrop.h"
#include "DragDropFile.h"
#include "ExtCtrls.h"
#include "FakeDataObject.h"
#include "Forms.h"
#include "MouseDrag.h"
#include "StdCtrls.h"

using fake::Bytes;

namespace {

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(DragDropInitialize());
    DragDropFileInitialize();
    GuiInitialize();
  }
  void TearDown() override {
    GuiFinalize();
    DragDropFinalize();
  }
};
const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

// RegisterDragDrop answers DRAGDROP_E_ALREADYREGISTERED while a window is registered.
class NullTarget final : public IDropTarget {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown || riid == IID_IDropTarget ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  // Registered for a moment only: no drag ever reaches it.
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD*) override { return fake::Unexpected("DragEnter"); }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD*) override { return fake::Unexpected("DragOver"); }
  HRESULT STDMETHODCALLTYPE DragLeave() override { return fake::Unexpected("DragLeave"); }
  HRESULT STDMETHODCALLTYPE Drop(IDataObject*, DWORD, POINTL, DWORD*) override { return fake::Unexpected("Drop"); }
};

bool IsRegistered(HWND Wnd) {
  NullTarget probe;
  const HRESULT hr = RegisterDragDrop(Wnd, &probe);
  if (hr == S_OK) RevokeDragDrop(Wnd);
  return hr == DRAGDROP_E_ALREADYREGISTERED;
}

// A shell drag-image object under the test's control.
class FakeHelper final : public IDropTargetHelper {
 public:
  HRESULT DragEnterAnswer = S_OK;
  HRESULT DragOverAnswer = S_OK;
  std::vector<std::string> Calls;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown || riid == IID_IDropTargetHelper ? this : nullptr;
    if (*ppv) AddRef();
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++Refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --Refs; }
  HRESULT STDMETHODCALLTYPE DragEnter(HWND, IDataObject*, POINT*, DWORD e) override {
    Calls.push_back("enter " + std::to_string(e));
    return DragEnterAnswer;
  }
  HRESULT STDMETHODCALLTYPE DragLeave() override {
    Calls.push_back("leave");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DragOver(POINT*, DWORD e) override {
    Calls.push_back("over " + std::to_string(e));
    return DragOverAnswer;
  }
  HRESULT STDMETHODCALLTYPE Drop(IDataObject*, POINT*, DWORD e) override {
    Calls.push_back("drop " + std::to_string(e));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Show(BOOL) override { return S_OK; }
  ULONG Refs = 1;
};

// The drop target with its drag-image object chosen by the test: none, or a fake.
class TTestDropTarget : public TDropFileTarget {
 public:
  using TDropFileTarget::TDropFileTarget;
  enum { kShell, kNone, kFake } HelperKind = kShell;
  FakeHelper Helper;

 protected:
  HRESULT CreateDropTargetHelper(IDropTargetHelper** Out) override {
    if (HelperKind == kShell) return TDropFileTarget::CreateDropTargetHelper(Out);
    if (HelperKind == kNone) return REGDB_E_CLASSNOTREG;
    Helper.AddRef();
    *Out = &Helper;
    return S_OK;
  }
};

bool gRegisteredAtDestroy = true;

// A window with a drop target set up as the main window's (copy only) that records what each
// drop delivered. What the main window does with a drop is tested on the main window itself.
class TDropForm : public TForm {
 public:
  explicit TDropForm(TComponent* AOwner) : TForm(AOwner) {
    BeginLoading();
    SetCaption(L"Drop target test");
    SetBorderStyle(bsDialog);
    SetBounds(100, 100, 0, 0);
    SetClientWidth(301);
    SetClientHeight(129);
    Label = new TLabel(this);
    Label->SetParent(this);
    Label->SetBounds(8, 8, 120, 13);
    Label->SetCaption(L"Status...");
    DropFileTarget = new TTestDropTarget(this);
    DropFileTarget->SetDragTypes({dtCopy});
    DropFileTarget->SetOnDrop([this](TObject*, TShiftState, TPoint p, int32_t&) {
      ++Drops;
      LastPoint = p;
      DroppedFiles.clear();
      for (int i = 0; i < DropFileTarget->Files().Count(); ++i) DroppedFiles.push_back(DropFileTarget->Files()[i]);
      MappedNames = DropFileTarget->MappedNames().Count();
    });
    EndLoading();
    OnCreate = [this](TObject*) { DropFileTarget->Register(this); };
  }

  // Screen point of a client point.
  POINTL At(int x, int y) {
    POINT p{x, y};
    ClientToScreen(Handle(), &p);
    return POINTL{p.x, p.y};
  }

  TLabel* Label;
  TTestDropTarget* DropFileTarget;
  std::vector<std::wstring> DroppedFiles;
  int MappedNames = 0;
  int Drops = 0;
  TPoint LastPoint{-1, -1};

 protected:
  LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override {
    if (Msg == WM_DESTROY) gRegisteredAtDestroy = IsRegistered(FHandle);
    return TForm::WndProc(Msg, wParam, lParam);
  }
};

class DropTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Form = CreateForm<TDropForm>(nullptr);
    Form->Show();
    mousedrag::PumpFor(50);
    Target = Form->DropFileTarget;
    Inside = Form->At(150, 60);
  }
  void TearDown() override { TComponent::Free(Form); }

  fake::DataObject BandFile(const std::vector<std::wstring>& Names = {L"C:\\tile\\T32_B03.jp2"}) {
    fake::DataObject d;
    d.AddGlobal(CF_HDROP, fake::DropFilesWide(Names));
    return d;
  }

  TDropForm* Form = nullptr;
  TTestDropTarget* Target = nullptr;
  POINTL Inside{};
};

const CLIPFORMAT kPerformed = fake::Registered(CFSTR_PERFORMEDDROPEFFECT);

TEST_F(DropTargetTest, CopyWheneverTheSourceAllowsItWhateverTheKeys) {
  const DWORD keys[] = {0, MK_SHIFT, MK_CONTROL, MK_SHIFT | MK_CONTROL, MK_ALT, MK_LBUTTON | MK_RBUTTON | MK_MBUTTON,
                        0xFFFF};
  const DWORD allowed[] = {DROPEFFECT_COPY, DROPEFFECT_MOVE, DROPEFFECT_LINK, DROPEFFECT_COPY | DROPEFFECT_MOVE,
                           DROPEFFECT_COPY | DROPEFFECT_LINK, DROPEFFECT_MOVE | DROPEFFECT_LINK, 7, DROPEFFECT_NONE};
  for (DWORD k : keys)
    for (DWORD a : allowed) {
      fake::DataObject d = BandFile();
      const DWORD expected = (a & DROPEFFECT_COPY) ? DROPEFFECT_COPY : DROPEFFECT_NONE;
      DWORD e = a;
      EXPECT_EQ(Target->DragEnter(&d, k, Inside, &e), S_OK);
      EXPECT_EQ(e, expected) << "keys " << k << " allowed " << a;
      EXPECT_EQ(Target->DataObject() != nullptr, expected != DROPEFFECT_NONE);
      e = a;
      EXPECT_EQ(Target->DragOver(k, Inside, &e), expected ? S_OK : DV_E_CLIPFORMAT);
      EXPECT_EQ(e, expected);
      EXPECT_EQ(Target->DragLeave(), S_OK);
      EXPECT_EQ(d.RefCount(), 1u);  // every reference taken was given back
    }
}

TEST(EffectRule, DefaultKeysChooseTheWantedEffect) {
  TDropFileTarget target(nullptr);
  target.SetDragTypes({dtCopy, dtMove, dtLink});
  const DWORD all = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
  EXPECT_EQ(target.GetValidDropEffect(TShiftState(), {}, all), DWORD(DROPEFFECT_MOVE));
  EXPECT_EQ(target.GetValidDropEffect({ssShift}, {}, all), DWORD(DROPEFFECT_MOVE));
  EXPECT_EQ(target.GetValidDropEffect({ssCtrl}, {}, all), DWORD(DROPEFFECT_COPY));
  EXPECT_EQ(target.GetValidDropEffect({ssCtrl, ssShift}, {}, all), DWORD(DROPEFFECT_LINK));
  EXPECT_EQ(target.GetValidDropEffect({ssAlt}, {}, all), DWORD(DROPEFFECT_MOVE));
  // The wanted effect not allowed: the first of copy, move, link that is.
  EXPECT_EQ(target.GetValidDropEffect(TShiftState(), {}, DROPEFFECT_LINK | DROPEFFECT_COPY), DWORD(DROPEFFECT_COPY));
  EXPECT_EQ(target.GetValidDropEffect({ssCtrl}, {}, DROPEFFECT_LINK | DROPEFFECT_MOVE), DWORD(DROPEFFECT_MOVE));
  EXPECT_EQ(target.GetValidDropEffect({ssCtrl}, {}, DROPEFFECT_SCROLL), DWORD(DROPEFFECT_NONE));
  // Only what the target's drag types allow.
  target.SetDragTypes({dtLink});
  EXPECT_EQ(target.GetValidDropEffect({ssCtrl}, {}, all), DWORD(DROPEFFECT_LINK));
  // The multi-target's own defaults; the file target reports moves as copies.
  TDropFileTarget fresh(nullptr);
  EXPECT_EQ(fresh.DragTypes(), (TDragTypes{dtCopy, dtLink}));
  EXPECT_TRUE(fresh.OptimizedMove());
  EXPECT_EQ(KeysToShiftState(MK_SHIFT | MK_CONTROL | MK_ALT | MK_LBUTTON | MK_RBUTTON | MK_MBUTTON | 0x40000),
            (TShiftState{ssShift, ssCtrl, ssAlt, ssLeft, ssRight, ssMiddle}));
}

TEST_F(DropTargetTest, DropFetchesNamesRaisesOnDropAndReportsCopy) {
  fake::DataObject d = BandFile({L"C:\\t\\A_B03.jp2", L"C:\\t\\B_B04.jp2"});
  d.Add(fake::Registered(L"FileNameMapW"), {fake::WideNameList({L"mapped.jp2"})});
  DWORD e = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  ASSERT_EQ(Target->DragEnter(&d, MK_LBUTTON, Inside, &e), S_OK);
  e = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  ASSERT_EQ(Target->DragOver(MK_LBUTTON, Form->At(20, 30), &e), S_OK);
  e = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  EXPECT_EQ(Target->Drop(&d, 0, Form->At(20, 30), &e), S_OK);
  EXPECT_EQ(e, DWORD(DROPEFFECT_COPY));
  EXPECT_EQ(Form->Drops, 1);
  EXPECT_EQ(Form->DroppedFiles, (std::vector<std::wstring>{L"C:\\t\\A_B03.jp2", L"C:\\t\\B_B04.jp2"}));
  EXPECT_EQ(Form->MappedNames, 1);  // both data formats were read
  EXPECT_EQ(Form->LastPoint.x, 20);
  EXPECT_EQ(Form->LastPoint.y, 30);
  // The report: a stream holding the effect as 4 little-endian bytes.
  EXPECT_EQ(d.SetDataCalls, 1);
  EXPECT_EQ(d.ReceivedMedium[kPerformed], DWORD(TYMED_ISTREAM));
  EXPECT_EQ(d.Received[kPerformed], (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(d.ReceivedFormat.cfFormat, kPerformed);
  EXPECT_EQ(d.ReceivedFormat.ptd, nullptr);
  EXPECT_EQ(d.ReceivedFormat.dwAspect, DWORD(DVASPECT_CONTENT));
  EXPECT_EQ(d.ReceivedFormat.lindex, -1);
  EXPECT_EQ(d.ReceivedFormat.tymed, DWORD(TYMED_HGLOBAL | TYMED_ISTREAM));
  // Afterwards: the names are gone, the drag is over, every medium and reference is back.
  EXPECT_EQ(Target->Files().Count(), 0);
  EXPECT_EQ(Target->MappedNames().Count(), 0);
  EXPECT_EQ(Target->Target(), nullptr);
  EXPECT_EQ(Target->DataObject(), nullptr);
  EXPECT_EQ(d.MediaReleased, d.MediaHandedOut);
  EXPECT_EQ(d.RefCount(), 1u);
}

TEST_F(DropTargetTest, MoveOnlyReportedAsCopyOnlyWhenOptimized) {
  // A target that takes moves: a performed move is reported as a copy.
  Target->SetDragTypes({dtCopy, dtMove});
  fake::DataObject d = BandFile();
  DWORD e = DROPEFFECT_MOVE;
  ASSERT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
  ASSERT_EQ(e, DWORD(DROPEFFECT_MOVE));
  e = DROPEFFECT_MOVE;
  EXPECT_EQ(Target->Drop(&d, 0, Inside, &e), S_OK);
  EXPECT_EQ(e, DWORD(DROPEFFECT_COPY));
  EXPECT_EQ(d.Received[kPerformed], (Bytes{1, 0, 0, 0}));
}

TEST_F(DropTargetTest, RefusedDataBreaksNothing) {
  {  // Text only.
    fake::DataObject text;
    text.AddGlobal(CF_UNICODETEXT, Bytes{'h', 0, 'i', 0, 0, 0});
    int overs = 0;
    Target->SetOnDragOver([&](TObject*, TShiftState, TPoint, int32_t&) { ++overs; });
    DWORD e = DROPEFFECT_COPY;
    EXPECT_EQ(Target->DragEnter(&text, 0, Inside, &e), S_OK);
    EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
    e = DROPEFFECT_COPY;
    EXPECT_EQ(Target->DragOver(0, Inside, &e), DV_E_CLIPFORMAT);
    EXPECT_EQ(overs, 0);
    e = DROPEFFECT_COPY;
    EXPECT_EQ(Target->Drop(&text, 0, Inside, &e), E_UNEXPECTED);
    EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
    EXPECT_TRUE(text.GetDataCalls.empty());
    EXPECT_EQ(text.RefCount(), 1u);
  }
  {  // A source that allows only move or link.
    fake::DataObject d = BandFile();
    DWORD e = DROPEFFECT_MOVE | DROPEFFECT_LINK;
    EXPECT_EQ(Target->DragEnter(&d, MK_CONTROL, Inside, &e), S_OK);
    EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
    e = DROPEFFECT_MOVE | DROPEFFECT_LINK;
    EXPECT_EQ(Target->Drop(&d, 0, Inside, &e), E_UNEXPECTED);
    EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
  }
  {  // A source that cannot enumerate its formats.
    fake::DataObject d = BandFile();
    d.EnumResetAnswer = S_FALSE;
    DWORD e = DROPEFFECT_COPY;
    EXPECT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(Target->DragLeave(), S_OK);
  }
  {  // Mapped names but no file names reach OnDrop with no file (the main window refuses them).
    fake::DataObject d;
    d.AddGlobal(fake::Registered(L"FileNameMapW"), fake::WideNameList({L"only-mapped.jp2"}));
    DWORD e = DROPEFFECT_COPY;
    EXPECT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(e, DWORD(DROPEFFECT_COPY));
    Target->Drop(&d, 0, Inside, &e);
    EXPECT_EQ(Target->MappedNames().Count(), 0);
  }
  EXPECT_EQ(Form->Drops, 1);  // only the mapped-names drop reached the handler
  EXPECT_TRUE(Form->DroppedFiles.empty());
  EXPECT_EQ(Form->MappedNames, 1);
}

TEST_F(DropTargetTest, SourceThatRefusesTheReportStillGetsCopy) {
  fake::DataObject d = BandFile();
  d.SetDataAnswer = E_NOTIMPL;
  DWORD e = DROPEFFECT_COPY;
  ASSERT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
  EXPECT_EQ(Target->Drop(&d, 0, Inside, &e), S_OK);
  EXPECT_EQ(e, DWORD(DROPEFFECT_COPY));
  EXPECT_EQ(d.SetDataCalls, 1);
  EXPECT_EQ(Form->Drops, 1);
  // The refused medium went back exactly once: only the test's reference is left.
  ASSERT_NE(d.RefusedStream, nullptr);
  EXPECT_EQ(d.RefusedStream->Release(), 0u);
}

TEST_F(DropTargetTest, DisabledTargetRefusesWithoutEvents) {
  int enters = 0, overs = 0;
  Target->SetOnEnter([&](TObject*, TShiftState, TPoint, int32_t&) { ++enters; });
  Target->SetOnDragOver([&](TObject*, TShiftState, TPoint, int32_t&) { ++overs; });
  Target->SetEnabled(false);
  fake::DataObject d = BandFile();
  DWORD e = DROPEFFECT_COPY;
  EXPECT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
  EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
  EXPECT_EQ(Target->DataObject(), nullptr);
  e = DROPEFFECT_COPY;
  EXPECT_EQ(Target->DragOver(0, Inside, &e), DV_E_CLIPFORMAT);
  e = DROPEFFECT_COPY;
  EXPECT_EQ(Target->Drop(&d, 0, Inside, &e), E_UNEXPECTED);
  EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
  EXPECT_EQ(enters, 0);
  EXPECT_EQ(overs, 0);
  EXPECT_EQ(Form->Drops, 0);
  EXPECT_TRUE(d.QueryCalls.empty());  // not even asked what it holds
  EXPECT_TRUE(d.GetDataCalls.empty());
  EXPECT_EQ(d.RefCount(), 1u);
}

TEST_F(DropTargetTest, ErrorsInEventsBecomeUnexpectedWithEffectNone) {
  Target->HelperKind = TTestDropTarget::kFake;
  {  // OnEnter fails: the drag is refused from then on.
    Target->SetOnEnter([](TObject*, TShiftState, TPoint, int32_t&) { throw std::runtime_error("enter"); });
    fake::DataObject d = BandFile();
    DWORD e = DROPEFFECT_COPY;
    EXPECT_EQ(Target->DragEnter(&d, 0, Inside, &e), E_UNEXPECTED);
    EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(Target->DataObject(), nullptr);
    e = DROPEFFECT_COPY;
    EXPECT_EQ(Target->DragOver(0, Inside, &e), DV_E_CLIPFORMAT);
    e = DROPEFFECT_COPY;
    EXPECT_EQ(Target->Drop(&d, 0, Inside, &e), E_UNEXPECTED);
    EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
    EXPECT_TRUE(d.GetDataCalls.empty());
    EXPECT_EQ(d.RefCount(), 1u);
    Target->SetOnEnter(nullptr);
  }
  {  // OnLeave fails: E_UNEXPECTED, and the drag is over all the same.
    Target->SetOnLeave([](TObject*) { throw std::runtime_error("leave"); });
    fake::DataObject d = BandFile();
    DWORD e = DROPEFFECT_COPY;
    ASSERT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(Target->DragLeave(), E_UNEXPECTED);
    EXPECT_EQ(Target->Target(), nullptr);
    EXPECT_EQ(Target->DataObject(), nullptr);
    EXPECT_EQ(Target->DropTargetHelper(), nullptr);
    EXPECT_EQ(Target->Helper.Refs, 1u);
    EXPECT_EQ(d.RefCount(), 1u);
    Target->SetOnLeave(nullptr);
  }
  {  // OnDrop fails once the names are there: nothing is reported, everything is cleaned up.
    Target->Helper.Calls.clear();
    Target->SetOnDrop([](TObject*, TShiftState, TPoint, int32_t&) { throw std::runtime_error("drop"); });
    fake::DataObject d = BandFile();
    DWORD e = DROPEFFECT_COPY;
    ASSERT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(Target->Drop(&d, 0, Inside, &e), E_UNEXPECTED);
    EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(d.SetDataCalls, 0);
    EXPECT_EQ(Target->Helper.Calls, (std::vector<std::string>{"enter 1", "drop 0"}));
    EXPECT_EQ(Target->Files().Count(), 0);
    EXPECT_EQ(Target->Target(), nullptr);
    EXPECT_EQ(Target->DataObject(), nullptr);
    EXPECT_EQ(Target->Helper.Refs, 1u);
    EXPECT_EQ(d.MediaReleased, d.MediaHandedOut);
    EXPECT_EQ(d.RefCount(), 1u);
  }
  {  // A handler that turns the effect to none: no report, no error.
    Target->SetOnDrop([](TObject*, TShiftState, TPoint, int32_t& ef) { ef = DROPEFFECT_NONE; });
    fake::DataObject d = BandFile();
    DWORD e = DROPEFFECT_COPY;
    ASSERT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(Target->Drop(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(d.SetDataCalls, 0);
  }
}

TEST_F(DropTargetTest, EnterAndLeaveLeaveNothingBehind) {
  int leaves = 0, enters = 0;
  Target->SetOnLeave([&](TObject*) { ++leaves; });
  Target->SetOnEnter([&](TObject*, TShiftState, TPoint, int32_t&) { ++enters; });
  fake::DataObject d = BandFile();
  for (int i = 0; i < 3; ++i) {
    DWORD e = DROPEFFECT_COPY;
    ASSERT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(Target->Target(), Form);
    ASSERT_EQ(Target->DragLeave(), S_OK);
    EXPECT_EQ(Target->Files().Count(), 0);
    EXPECT_EQ(Target->Target(), nullptr);
  }
  EXPECT_EQ(enters, 3);
  EXPECT_EQ(leaves, 3);
  EXPECT_EQ(Form->Drops, 0);
  EXPECT_TRUE(d.GetDataCalls.empty());  // passing over fetches nothing
  EXPECT_EQ(d.RefCount(), 1u);
  // Over no registered window: DragOver refuses.
  DWORD e = DROPEFFECT_COPY;
  EXPECT_EQ(Target->DragOver(0, Inside, &e), E_UNEXPECTED);
  EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
}

TEST_F(DropTargetTest, ChildControlsArePartOfTheDropArea) {
  fake::DataObject d = BandFile();
  POINT p{12, 12};
  ClientToScreen(Form->Label->Handle(), &p);
  DWORD e = DROPEFFECT_COPY;
  ASSERT_EQ(Target->DragEnter(&d, 0, POINTL{p.x, p.y}, &e), S_OK);
  EXPECT_EQ(Target->Target(), Form);
  EXPECT_EQ(e, DWORD(DROPEFFECT_COPY));
  EXPECT_EQ(Target->Drop(&d, 0, POINTL{p.x, p.y}, &e), S_OK);
  EXPECT_EQ(Form->LastPoint.x, 12 + ScaleForDpi(8, Form->CurrentPPI()));  // in the form's client area
}

TEST_F(DropTargetTest, DragImageObjectIsOptional) {
  {  // None available: drops work without it.
    Target->HelperKind = TTestDropTarget::kNone;
    fake::DataObject d = BandFile();
    DWORD e = DROPEFFECT_COPY;
    ASSERT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(Target->DropTargetHelper(), nullptr);
    EXPECT_EQ(Target->DragOver(0, Inside, &e), S_OK);
    EXPECT_EQ(Target->Drop(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(e, DWORD(DROPEFFECT_COPY));
  }
  {  // One that works is told every step, for refused data too.
    Target->HelperKind = TTestDropTarget::kFake;
    fake::DataObject text;
    text.AddGlobal(CF_TEXT, Bytes{'x', 0});
    DWORD e = DROPEFFECT_COPY;
    ASSERT_EQ(Target->DragEnter(&text, 0, Inside, &e), S_OK);
    e = DROPEFFECT_COPY;
    Target->DragOver(0, Inside, &e);
    Target->DragLeave();
    EXPECT_EQ(Target->Helper.Calls, (std::vector<std::string>{"enter 0", "over 1", "leave"}));
    EXPECT_EQ(Target->Helper.Refs, 1u);
  }
  {  // One whose DragEnter fails is let go at once; the drop goes on without it.
    Target->Helper.Calls.clear();
    Target->Helper.DragEnterAnswer = E_FAIL;
    fake::DataObject d = BandFile();
    DWORD e = DROPEFFECT_COPY;
    ASSERT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(Target->DropTargetHelper(), nullptr);
    EXPECT_EQ(Target->Helper.Refs, 1u);
    EXPECT_EQ(Target->DragOver(0, Inside, &e), S_OK);
    EXPECT_EQ(Target->Drop(&d, 0, Inside, &e), S_OK);
    EXPECT_EQ(e, DWORD(DROPEFFECT_COPY));
    EXPECT_EQ(Target->Helper.Calls, std::vector<std::string>{"enter 1"});
    Target->Helper.DragEnterAnswer = S_OK;
  }
  {  // One whose DragOver fails stops the drag being accepted.
    Target->Helper.Calls.clear();
    Target->Helper.DragOverAnswer = E_FAIL;
    fake::DataObject d = BandFile();
    DWORD e = DROPEFFECT_COPY;
    ASSERT_EQ(Target->DragEnter(&d, 0, Inside, &e), S_OK);
    e = DROPEFFECT_COPY;
    EXPECT_EQ(Target->DragOver(0, Inside, &e), E_UNEXPECTED);
    EXPECT_EQ(e, DWORD(DROPEFFECT_NONE));
    e = DROPEFFECT_COPY;
    EXPECT_EQ(Target->Drop(&d, 0, Inside, &e), E_UNEXPECTED);
    EXPECT_EQ(Target->Helper.Calls.back(), "drop 0");
    EXPECT_EQ(Target->Helper.Refs, 1u);
    EXPECT_EQ(Form->Drops, 2);  // the drops of the first and third blocks
  }
}

TEST_F(DropTargetTest, ImageListDragImageFollowsTheCursorWithoutTheShellsObject) {
  // An image-list drag of this process, as a source without the shell's object would start it.
  Target->HelperKind = TTestDropTarget::kNone;
  HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
  ASSERT_TRUE(images);
  HICON icon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  ASSERT_EQ(ImageList_ReplaceIcon(images, -1, icon), 0);
  ASSERT_TRUE(ImageList_BeginDrag(images, 0, 3, 4));
  // Relative to the window's top-left corner, frame included.
  auto windowRelative = [&](int x, int y) {
    POINT p{x, y};
    ClientToScreen(Form->Handle(), &p);
    RECT r{};
    GetWindowRect(Form->Handle(), &r);
    return POINT{p.x - r.left, p.y - r.top};
  };
  fake::DataObject d = BandFile();
  DWORD e = DROPEFFECT_COPY;
  ASSERT_EQ(Target->DragEnter(&d, 0, Form->At(40, 30), &e), S_OK);
  POINT at{}, hot{};
  ASSERT_TRUE(ImageList_GetDragImage(&at, &hot));
  EXPECT_EQ(at.x, windowRelative(40, 30).x);
  EXPECT_EQ(at.y, windowRelative(40, 30).y);
  e = DROPEFFECT_COPY;
  EXPECT_EQ(Target->DragOver(0, Form->At(70, 55), &e), S_OK);
  ASSERT_TRUE(ImageList_GetDragImage(&at, &hot));
  EXPECT_EQ(at.x, windowRelative(70, 55).x);
  EXPECT_EQ(at.y, windowRelative(70, 55).y);
  EXPECT_EQ(Target->Drop(&d, 0, Form->At(70, 55), &e), S_OK);
  EXPECT_EQ(e, DWORD(DROPEFFECT_COPY));
  ImageList_EndDrag();
  ImageList_Destroy(images);
}

TEST_F(DropTargetTest, CountsNoReferences) {
  IUnknown* unknown = nullptr;
  ASSERT_EQ(Target->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  IDropTarget* dt = nullptr;
  ASSERT_EQ(Target->QueryInterface(IID_IDropTarget, reinterpret_cast<void**>(&dt)), S_OK);
  EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(dt));
  IDataObject* other = nullptr;
  EXPECT_EQ(Target->QueryInterface(IID_IDataObject, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
  EXPECT_EQ(dt->AddRef(), static_cast<ULONG>(-1));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(dt->Release(), static_cast<ULONG>(-1));
  EXPECT_EQ(Target->Files().Count(), 0);  // still there
}

// ---------------------------------------------------------------------------------------------
// A real OLE drag in this process: DoDragDrop's own loop, driven by synthetic mouse input from a
// second thread, with our data source and drop source.

TEST_F(DropTargetTest, RealDragInThisProcess) {
  fake::DataObject d = BandFile({L"C:\\drag\\T32_B04.jp2", L"C:\\drag\\T32_B03.jp2"});
  int enters = 0, overs = 0;
  Target->SetOnEnter([&](TObject*, TShiftState, TPoint, int32_t&) { ++enters; });
  Target->SetOnDragOver([&](TObject*, TShiftState, TPoint, int32_t&) { ++overs; });
  const POINTL to = Form->At(150, 60);
  DWORD effect = DROPEFFECT_NONE;
  const HRESULT hr = mousedrag::Drag(&d, POINT{700, 600}, POINT{to.x, to.y}, &effect);
  ASSERT_EQ(hr, DRAGDROP_S_DROP) << "DoDragDrop did not follow the synthetic mouse";
  EXPECT_EQ(effect, DWORD(DROPEFFECT_COPY));
  EXPECT_GE(enters, 1);
  EXPECT_GE(overs, 1);
  EXPECT_EQ(Form->Drops, 1);
  EXPECT_EQ(Form->DroppedFiles, (std::vector<std::wstring>{L"C:\\drag\\T32_B04.jp2", L"C:\\drag\\T32_B03.jp2"}));
  EXPECT_EQ(d.Received[kPerformed], (Bytes{1, 0, 0, 0}));  // the source was told: copied
  EXPECT_EQ(Target->Files().Count(), 0);
}

TEST_F(DropTargetTest, RealDragOfTheShellsDataObject) {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring dir = std::wstring(temp) + L"bandweave-drag-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring file = dir + L"\\S2A_T32TPS_B03.jp2";
  CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

  IShellFolder* desktop = nullptr;
  ASSERT_EQ(SHGetDesktopFolder(&desktop), S_OK);
  LPITEMIDLIST absolute = ILCreateFromPathW(file.c_str());
  ASSERT_TRUE(absolute);
  IShellFolder* parent = nullptr;
  LPCITEMIDLIST child = nullptr;
  ASSERT_EQ(SHBindToParent(absolute, IID_IShellFolder, reinterpret_cast<void**>(&parent), &child), S_OK);
  IDataObject* data = nullptr;
  ASSERT_EQ(parent->GetUIObjectOf(nullptr, 1, &child, IID_IDataObject, nullptr, reinterpret_cast<void**>(&data)),
            S_OK);

  const POINTL to = Form->At(100, 50);
  DWORD effect = DROPEFFECT_NONE;
  const HRESULT hr = mousedrag::Drag(data, POINT{700, 600}, POINT{to.x, to.y}, &effect);
  EXPECT_EQ(hr, DRAGDROP_S_DROP);
  EXPECT_EQ(effect, DWORD(DROPEFFECT_COPY));
  ASSERT_EQ(Form->DroppedFiles.size(), 1u);
  EXPECT_EQ(_wcsicmp(Form->DroppedFiles[0].c_str(), file.c_str()), 0);

  data->Release();
  parent->Release();
  ILFree(absolute);
  desktop->Release();
  DeleteFileW(file.c_str());
  RemoveDirectoryW(dir.c_str());
}

// The drag source in another process (Explorer's case, or a Linux file manager's drag through
// Wine). Wine 8 gives the target a stand-in data object whose SetData answers E_NOTIMPL, so
// "Performed DropEffect" does not reach a source in another process; what must hold is that
// the drop answers copy and the job runs.
TEST_F(DropTargetTest, DropFromAnotherProcess) {
  std::wstring self(32768, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  const std::wstring helper = self.substr(0, self.find_last_of(L"\\/") + 1) + L"DragSourceProcess.exe";
  ASSERT_NE(GetFileAttributesW(helper.c_str()), INVALID_FILE_ATTRIBUTES) << "DragSourceProcess.exe missing";
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring result = std::wstring(temp) + L"bandweave-drag-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  DeleteFileW(result.c_str());

  const POINTL to = Form->At(150, 60);
  std::wstring command = L"\"" + helper + L"\" \"" + result + L"\" 700 600 " + std::to_wstring(to.x) + L" " +
                         std::to_wstring(to.y) + L" C:\\far\\T32_B08.jp2 C:\\far\\T32_B04.jp2";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  // Serve this window, and the calls into the drop target, while the other process drags.
  const DWORD start = GetTickCount();
  while (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 50, QS_ALLINPUT) != WAIT_OBJECT_0 &&
         GetTickCount() - start < 30000)
    mousedrag::PumpFor(1);
  DWORD exitCode = 1;
  GetExitCodeProcess(pi.hProcess, &exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  ASSERT_EQ(exitCode, 0u);

  unsigned long hr = 0, effect = 0;
  int setDataCalls = -1, reported = -1;
  FILE* in = _wfopen(result.c_str(), L"r");
  ASSERT_TRUE(in);
  const int fields = fscanf(in, "%lx %lu %d %d", &hr, &effect, &setDataCalls, &reported);
  fclose(in);
  DeleteFileW(result.c_str());
  ASSERT_EQ(fields, 4);
  EXPECT_EQ(static_cast<HRESULT>(hr), DRAGDROP_S_DROP);
  EXPECT_EQ(effect, static_cast<unsigned long>(DROPEFFECT_COPY));
  EXPECT_EQ(Form->DroppedFiles, (std::vector<std::wstring>{L"C:\\far\\T32_B08.jp2", L"C:\\far\\T32_B04.jp2"}));
  RecordProperty("PerformedDropEffectReachedSource", reported);
}


// ---------------------------------------------------------------------------------------------
// Registration.

TEST_F(DropTargetTest, RegistrationFollowsTheWindowHandle) {
  HWND w = Form->Handle();
  EXPECT_TRUE(IsRegistered(w));
  ASSERT_EQ(Target->Targets().Count(), 1);

  // A re-created window is registered anew.
  gRegisteredAtDestroy = true;
  Form->DestroyHandle();
  EXPECT_FALSE(gRegisteredAtDestroy);
  Form->Show();
  EXPECT_TRUE(IsRegistered(Form->Handle()));

  Target->Unregister(Form);
  EXPECT_FALSE(IsRegistered(Form->Handle()));
  EXPECT_EQ(Target->Targets().Count(), 0);
  Target->Register(Form);
  Target->Register(Form);  // listed already: ignored
  EXPECT_EQ(Target->Targets().Count(), 1);
  EXPECT_TRUE(IsRegistered(Form->Handle()));

  // A second target cannot take a registered window: an OLE error, and no listing.
  auto* second = new TDropFileTarget(Form);
  EXPECT_THROW(second->Register(Form), EOleError);
  EXPECT_EQ(second->Targets().Count(), 0);
  TComponent::Free(second);
  EXPECT_TRUE(IsRegistered(Form->Handle()));
}

TEST_F(DropTargetTest, RemovedControlIsUnregistered) {
  auto* panel = new TLabel(Form);
  panel->SetParent(Form);
  panel->SetBounds(200, 8, 40, 20);
  Target->Register(panel);  // single target: the window goes off the list
  EXPECT_EQ(Target->Targets().Count(), 1);
  EXPECT_EQ(Target->Targets().GetControl(0), panel);
  EXPECT_FALSE(IsRegistered(Form->Handle()));
  EXPECT_TRUE(IsRegistered(panel->Handle()));
  TComponent::Free(panel);
  EXPECT_EQ(Target->Targets().Count(), 0);
}

TEST(DropTargetLifetime, RevokedBeforeTheWindowIsDestroyed) {
  auto* form = CreateForm<TDropForm>(nullptr);
  form->Show();
  HWND w = form->Handle();
  ASSERT_TRUE(IsRegistered(w));
  gRegisteredAtDestroy = true;
  TComponent::Free(form);
  EXPECT_FALSE(gRegisteredAtDestroy);  // seen from the window's own WM_DESTROY
  EXPECT_FALSE(IsWindow(w));
}

}  // namespace
