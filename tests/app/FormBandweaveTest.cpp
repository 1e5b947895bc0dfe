// The main window inside the test process: its job-host operations, and names stored in quick
// succession starting one job.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <filesystem>
#include <memory>
#include <thread>

#include "AppDriver.h"
#include "ProductTrees.h"
#include "FakeDataObject.h"
#include "Bandweaveform.h"
#include "FreeImageSession.h"
#include "TempFolder.h"
#include "TestEnv.h"
#include "WinTestKit.h"
#include "qelRegistryKey.h"
#include "qelRegistryVariables.h"
#include "qelUtils.h"

namespace fs = std::filesystem;

namespace {
#if BANDWEAVE_HAS_DRAGDROP
// A drag source's data object offering one file name as CF_HDROP, as the shell does, or, with
// FormatName, as that registered format ("FileNameW", "FileNameMapW") in a block larger than
// the name, as some older sources do.
fake::DataObject FileData(const std::wstring& Path, const wchar_t* FormatName) {
  fake::DataObject data;
  if (!FormatName) {
    data.AddGlobal(CF_HDROP, fake::DropFilesWide({Path}));
  } else {
    fake::Bytes block;
    fake::PutWide(block, Path);
    fake::PutWide(block, L"stale tail");
    data.AddGlobal(fake::Registered(FormatName), block);
  }
  return data;
}

// Drags Path over the window's centre and drops it there; the drop's result and effect.
HRESULT DropOn(TFormBandweave* Form, const std::wstring& Path, DWORD& Effect,
               const wchar_t* FormatName = nullptr) {
  IUnknown* unk = Form->DropFileTarget->GetComponentUnknown();
  IDropTarget* target = nullptr;
  if (!unk || FAILED(unk->QueryInterface(IID_IDropTarget, reinterpret_cast<void**>(&target)))) return E_FAIL;
  RECT r{};
  GetWindowRect(Form->Handle(), &r);
  POINTL pt{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  fake::DataObject data = FileData(Path, FormatName);
  Effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  HRESULT hr = target->DragEnter(&data, MK_LBUTTON, pt, &Effect);
  if (SUCCEEDED(hr)) {
    Effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    hr = target->DragOver(MK_LBUTTON, pt, &Effect);
  }
  if (SUCCEEDED(hr)) {
    Effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    hr = target->Drop(&data, 0, pt, &Effect);
  }
  target->Release();
  return hr;
}
#endif

using wintest::Pump;

// Presses OK on every "Bandweave" box of this process and counts them.
class TBoxWatcher {
 public:
  TBoxWatcher()
      : FThread([this] {
          while (!FStop) {
            HWND b = FindWindowW(L"#32770", L"Bandweave");
            if (b && IsWindowVisible(b)) {
              Texts.push_back(appdriver::MessageText(b));
              appdriver::PressOk(b);
              while (IsWindow(b) && !FStop) Sleep(10);
            }
            Sleep(10);
          }
        }) {}
  ~TBoxWatcher() {
    FStop = true;
    FThread.join();
  }
  std::vector<std::wstring> Texts;

 private:
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
#if BANDWEAVE_HAS_DRAGDROP
    static bool formats = (DragDropInitialize(), DragDropFileInitialize(), true);
    (void)formats;
#endif
    qelUtilsInitialize();
    qelRegistryVariablesInitialize();
    RegDeleteTreeW(RegistryRoot, (qelRegistryLocation::ProfilePathFor(RegistryVendor, qelRegistryLocation::OwnExecutablePath()).substr(1)).c_str());
    FreeImage = std::make_unique<FreeImageSession>();
    GuiInitialize();
    Application->CreateForm(FormBandweave);
    Form = FormBandweave;
    Form->Show();
  }
  void TearDown() override {
    GuiFinalize();
    FreeImage.reset();
    qelRegistryVariablesFinalize();
    qelUtilsFinalize();
    OleUninitialize();
  }
  std::unique_ptr<FreeImageSession> FreeImage;
  TFormBandweave* Form = nullptr;
};
}  // namespace

TEST_F(MainWindow, ProvidesTheJobHostOperations) {
  EXPECT_EQ(Application->Title(), L"Bandweave");
  EXPECT_EQ(Form->GetStatusText(), L"Status...");
  // Designed 43 x 13 at 96 dpi; the label sizes itself to "Status..." in the desktop font.
  RECT r{};
  GetWindowRect(Form->LabelInfo->Handle(), &r);
  MapWindowPoints(nullptr, Form->Handle(), reinterpret_cast<POINT*>(&r), 2);
  int ppi = Form->CurrentPPI();
  EXPECT_EQ(r.left, ScaleForDpi(8, ppi));
  EXPECT_EQ(r.top, ScaleForDpi(8, ppi));
  EXPECT_NEAR(r.right - r.left, ScaleForDpi(43, ppi), ScaleForDpi(6, ppi));
  EXPECT_NEAR(r.bottom - r.top, ScaleForDpi(13, ppi), ScaleForDpi(2, ppi));
  EXPECT_EQ(Form->GetSaveFormat(), 1);
  EXPECT_FALSE(Form->GetBeepWhenDone());
  int oneLine = Form->LabelInfo->Height();
  Form->SetStatusText(L"Processing red\nsecond line");
  EXPECT_EQ(Form->GetStatusText(), L"Processing red\nsecond line");
  EXPECT_GE(Form->LabelInfo->Height(), 2 * oneLine - 1);
  Form->SetStatusHint(L"JP2: 1.0 s");
  EXPECT_EQ(Form->LabelInfo->Hint(), L"JP2: 1.0 s");
  Form->RepaintNow();
  intptr_t old = Form->BeginBusyCursor();
  EXPECT_EQ(old, crDefault);
  EXPECT_EQ(Screen->Cursor(), crHourGlass);
  Form->RestoreCursor(old);
  EXPECT_EQ(Screen->Cursor(), crDefault);
  Form->RadioGroupSaveFormat->SetItemIndex(0);
  EXPECT_EQ(Form->GetSaveFormat(), 0);
  Form->CheckBoxBeepWhenDone->SetChecked(true);
  EXPECT_TRUE(Form->GetBeepWhenDone());
  // The start-up tick replaces "Status..." once the loop runs.
  Pump(400);
  EXPECT_EQ(Form->GetStatusText(), L"Drop a .JP2 file to process\nThis program WILL take a long time to run");
  EXPECT_FALSE(Form->TimerStartup->Enabled());
}

// The face and height of the font a window really draws with.
LOGFONTW FontOf(HWND Wnd) {
  LOGFONTW lf{};
  HFONT f = reinterpret_cast<HFONT>(SendMessageW(Wnd, WM_GETFONT, 0, 0));
  if (f) GetObjectW(f, sizeof lf, &lf);
  return lf;
}

TEST_F(MainWindow, EveryControlDrawsWithTheDesktopsIconTitleFont) {
  LOGFONTW desktop{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof desktop, &desktop, 0));
  const int height = MulDiv(desktop.lfHeight, Form->CurrentPPI(), SystemDpi());
  std::vector<HWND> windows = {Form->LabelInfo->Handle(), Form->ButtonClose->Handle(),
                               Form->RadioGroupSaveFormat->Handle(), Form->CheckBoxBeepWhenDone->Handle()};
  for (HWND b : Form->RadioGroupSaveFormat->Buttons()) windows.push_back(b);
  ASSERT_EQ(windows.size(), 6u);
  for (HWND w : windows) {
    wchar_t text[64] = {};
    GetWindowTextW(w, text, 64);
    SCOPED_TRACE(fs::path(text).string());
    LOGFONTW lf = FontOf(w);
    EXPECT_STREQ(lf.lfFaceName, desktop.lfFaceName);
    EXPECT_EQ(lf.lfHeight, height);
  }
  // The check box keeps its designed, DPI-scaled size whatever the font needs.
  RECT r{};
  GetWindowRect(Form->CheckBoxBeepWhenDone->Handle(), &r);
  EXPECT_EQ(r.right - r.left, ScaleForDpi(105, Form->CurrentPPI()));
  EXPECT_EQ(r.bottom - r.top, ScaleForDpi(17, Form->CurrentPPI()));
}

// Every caption fits its control, measured in the font the control really has: the face the
// desktop font turns out to be on this system is what decides, not the one asked for.
TEST_F(MainWindow, EveryCaptionFitsItsControl) {
  // A check box or radio button draws its box and a gap before the caption.
  const int box = ScaleForDpi(16, Form->CurrentPPI());
  std::vector<std::pair<HWND, int>> controls = {{Form->LabelInfo->Handle(), 0},
                                                {Form->ButtonClose->Handle(), 2 * GetSystemMetrics(SM_CXEDGE)},
                                                {Form->CheckBoxBeepWhenDone->Handle(), box}};
  for (HWND b : Form->RadioGroupSaveFormat->Buttons()) controls.emplace_back(b, box);
  for (const auto& [wnd, decoration] : controls) {
    wchar_t text[128] = {};
    GetWindowTextW(wnd, text, 128);
    SCOPED_TRACE(fs::path(text).string());
    HDC dc = GetDC(wnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(wnd, WM_GETFONT, 0, 0)));
    RECT need{0, 0, 0, 0};
    DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(wnd, dc);
    RECT client{};
    GetClientRect(wnd, &client);
    EXPECT_LE(need.right + decoration, client.right) << "the caption needs " << need.right << " px";
  }
}

TEST_F(MainWindow, ToolTipsTabOrderAndTimersAsLaidOut) {
  HWND tip = Form->ToolTipHandle();
  ASSERT_TRUE(tip);
  auto tipText = [&](HWND Wnd) -> std::wstring {
    wchar_t buf[256] = {};
    TOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = Form->Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(Wnd);
    ti.lpszText = buf;
    if (!SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti))) return L"<none>";
    SendMessageW(tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&ti));
    return buf;
  };
  const std::wstring groupTip = L"TIFF is quicker, but produces a 20% bigger file";
  EXPECT_EQ(tipText(Form->RadioGroupSaveFormat->Handle()), groupTip);
  for (HWND b : Form->RadioGroupSaveFormat->Buttons()) EXPECT_EQ(tipText(b), groupTip);
  EXPECT_EQ(tipText(Form->LabelInfo->Handle()), L"<none>");  // no durations before a job
  // The status line shows its durations even when the window's tips are off.
  Form->SetShowHint(false);
  EXPECT_EQ(tipText(Form->RadioGroupSaveFormat->Handle()), L"<none>");
  Form->SetStatusHint(L"\"JP2:\"   1.0");
  EXPECT_EQ(tipText(Form->LabelInfo->Handle()), L"\"JP2:\"   1.0");
  Form->SetShowHint(true);

  // Child windows in creation order: the label, then the tab order Close, group, check box.
  std::vector<HWND> kids;
  for (HWND k = GetWindow(Form->Handle(), GW_CHILD); k; k = GetWindow(k, GW_HWNDNEXT)) kids.push_back(k);
  ASSERT_GE(kids.size(), 4u);
  EXPECT_EQ(kids[0], Form->LabelInfo->Handle());
  EXPECT_EQ(kids[1], Form->ButtonClose->Handle());
  EXPECT_EQ(kids[2], Form->RadioGroupSaveFormat->Handle());
  EXPECT_EQ(kids[3], Form->CheckBoxBeepWhenDone->Handle());
  EXPECT_EQ(Form->ButtonClose->Anchors(), static_cast<TAnchors>(akRight | akBottom));

  EXPECT_EQ(Form->TimerStartup->Interval(), 100u);
  EXPECT_EQ(Form->TimerNewFile->Interval(), 70u);
  EXPECT_FALSE(Form->TimerNewFile->Enabled());
}

TEST_F(MainWindow, RepaintNowPaintsAtOnceAndServesNothingElse) {
  Pump(300);  // past the start-up tick, everything painted
  Form->SetStatusText(L"Processing red");
  ASSERT_TRUE(GetUpdateRect(Form->LabelInfo->Handle(), nullptr, FALSE)) << "a new text needs painting";
  const UINT probe = WM_APP + 17;
  ASSERT_TRUE(PostMessageW(Form->Handle(), probe, 0, 0));
  Form->RepaintNow();
  EXPECT_FALSE(GetUpdateRect(Form->LabelInfo->Handle(), nullptr, FALSE));
  EXPECT_FALSE(GetUpdateRect(Form->Handle(), nullptr, FALSE));
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, Form->Handle(), probe, probe, PM_REMOVE)) << "a queued message was served";
}

TEST_F(MainWindow, ClosingStoresThePlacementBeforeTheControlsTheirSettings) {
  Pump(300);
  Form->RadioGroupSaveFormat->SetItemIndex(0);
  Form->CheckBoxBeepWhenDone->SetChecked(true);
  std::vector<std::pair<std::wstring, DWORD>> written;
  qelRegistry::SetChangeObserver([&](qelRegistry::TRegChange change, const std::wstring& name, DWORD value) {
    if (change == qelRegistry::TRegChange::Write) written.emplace_back(name, value);
  });
  RECT r{};
  GetWindowRect(Form->Handle(), &r);
  GuiFinalize();
  qelRegistry::SetChangeObserver(nullptr);
  const wchar_t* placement[] = {L"FormState", L"FormLeft", L"FormTop", L"FormWidth",
                                L"FormHeight", L"FormClientWidth", L"FormClientHeight"};
  ASSERT_GE(written.size(), 9u);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(written[i].first, placement[i]) << i;
  EXPECT_EQ(written[1].second, static_cast<DWORD>(r.left));
  EXPECT_EQ(written[2].second, static_cast<DWORD>(r.top));
  // Then the two controls, each as it goes.
  std::map<std::wstring, DWORD> rest;
  for (size_t i = 7; i < written.size(); ++i) rest[written[i].first] = written[i].second;
  EXPECT_EQ(rest, (std::map<std::wstring, DWORD>{{L"BeepWhenDone", 1}, {L"SaveFormat", 0}}));
}

TEST_F(MainWindow, LoggingOffStoresTheSettingsBeforeTheProcessIsEnded) {
  Pump(300);
  Form->RadioGroupSaveFormat->SetItemIndex(0);
  std::vector<std::wstring> written;
  qelRegistry::SetChangeObserver([&](qelRegistry::TRegChange change, const std::wstring& name, DWORD) {
    if (change == qelRegistry::TRegChange::Write) written.push_back(name);
  });
  // Sent by the system while the loop waits for work.
  HWND w = Form->Handle();
  std::thread system([w] {
    Sleep(200);
    DWORD_PTR r = 0;
    SendMessageTimeoutW(w, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, &r);
    if (IsWindow(w)) PostMessageW(w, WM_CLOSE, 0, 0);
  });
  Application->Run();
  system.join();
  qelRegistry::SetChangeObserver(nullptr);
  EXPECT_EQ(FormBandweave, nullptr);
  ASSERT_GE(written.size(), 9u);
  EXPECT_EQ(written[0], L"FormState");
  EXPECT_NE(std::find(written.begin(), written.end(), L"SaveFormat"), written.end());
  EXPECT_NE(std::find(written.begin(), written.end(), L"BeepWhenDone"), written.end());
}

TEST_F(MainWindow, TwoNamesWithinTheIntervalStartOneJobWithTheSecond) {
  if (!fs::exists(testenv::TestData() / "tile")) GTEST_SKIP() << "generated tile missing";
  fs::path a = appdriver::CopyTile(L"first"), b = appdriver::CopyTile(L"second");
  Pump(300);  // past the start-up tick
  TBoxWatcher boxes;
#if BANDWEAVE_HAS_DRAGDROP
  // Through the window's drop target, as the shell delivers them.
  DWORD effect = 0;
  DWORD t0 = GetTickCount();
  ASSERT_EQ(DropOn(Form, (a / "T33UUP_20250101T101021_B03.jp2").wstring(), effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_TRUE(Form->TimerNewFile->Enabled());
  // The loop runs between the drops, but never up to the tick, however slow the machine.
  if (DWORD spent = GetTickCount() - t0; spent < 30) Pump(30 - spent);
  ASSERT_EQ(DropOn(Form, (b / "T33UUP_20250101T101021_B04.jp2").wstring(), effect), S_OK);
  EXPECT_EQ(Form->FileName(), (b / "T33UUP_20250101T101021_B04.jp2").wstring());
#else
  DWORD t0 = GetTickCount();
  Form->QueueFile((a / "T33UUP_20250101T101021_B03.jp2").wstring());
  if (DWORD spent = GetTickCount() - t0; spent < 30) Pump(30 - spent);
  Form->QueueFile((b / "T33UUP_20250101T101021_B04.jp2").wstring());
#endif
  for (int i = 0; i < 300 && Form->GetStatusText() != L"Finished"; ++i) Pump(50);
  Pump(300);  // room for a second job, were one to start
  EXPECT_EQ(Form->GetStatusText(), L"Finished");
  EXPECT_EQ(boxes.Texts, (std::vector<std::wstring>{L"Production of 48-bit TIF  complete!"}));
  EXPECT_TRUE(fs::exists(b / "T33UUP_20250101T101021_48.tif"));
  EXPECT_FALSE(fs::exists(a / "T33UUP_20250101T101021_48.tif"));
  EXPECT_FALSE(Form->TimerNewFile->Enabled());
  fs::remove_all(a);
  fs::remove_all(b);
}

#if BANDWEAVE_HAS_DRAGDROP
TEST_F(MainWindow, NameFromALargerFileNameWBlockEndsAtItsTerminator) {
  Pump(300);
  DWORD effect = 0;
  const std::wstring path = L"C:\\tiles\\T33UUP_20250101T101021_B03.jp2";
  ASSERT_EQ(DropOn(Form, path, effect, L"FileNameW"), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_EQ(Form->FileName(), path);
  Form->TimerNewFile->SetEnabled(false);  // no such file: nothing to run
}

// A dropped IMG_DATA folder and a dropped product zip each run a job, beside the red band and
// beside the zip.
TEST_F(MainWindow, DroppedProductFolderAndZipRunTheirJobs) {
  if (!fs::exists(testenv::TestData() / "tile")) GTEST_SKIP() << "generated tile missing";
  namespace pt = producttrees;
  const fs::path dir = testenv::FreshPrivateFolder("bandweave-form-products-");
  const pt::TProduct l2a = pt::MakeL2a(dir, {{10, testenv::TestData() / "tile"}});
  pt::WriteBytes(dir / "zips" / "S2A_MSIL2A.zip", pt::ZipBytes(pt::EntriesOf(l2a.Safe)));
  Pump(300);
  TBoxWatcher boxes;
  for (const fs::path& dropped : {l2a.ImgData, dir / "zips" / "S2A_MSIL2A.zip"}) {
    DWORD effect = 0;
    ASSERT_EQ(DropOn(Form, dropped.wstring(), effect), S_OK);
    Form->SetStatusText(L"waiting");
    for (int i = 0; i < 300 && Form->GetStatusText() != L"Finished"; ++i) Pump(50);
  }
  EXPECT_EQ(boxes.Texts, (std::vector<std::wstring>(2, L"Production of 48-bit TIF  complete!")));
  EXPECT_TRUE(fs::exists(l2a.ImgData / "R10m" / "T33UUP_20250101T101021_48_10m.tif"));
  EXPECT_TRUE(fs::exists(dir / "zips" / "T33UUP_20250101T101021_48_10m.tif"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "zips"), fs::directory_iterator()), 2);
  fs::remove_all(dir);
}

TEST_F(MainWindow, MappedNamesAloneAreRefusedAndStartNoJob) {
  Pump(300);
  DWORD effect = 0;
  EXPECT_EQ(DropOn(Form, L"C:\\tiles\\T33UUP_20250101T101021_B03.jp2", effect, L"FileNameMapW"), E_UNEXPECTED);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_FALSE(Form->TimerNewFile->Enabled());
  EXPECT_EQ(Form->FileName(), L"");
}
#endif
