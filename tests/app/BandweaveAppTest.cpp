// Bandweave.exe end to end, driven from outside under the same Wine session.
#include <windows.h>
#include <shellapi.h>

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "AppDriver.h"
#include "ProductTrees.h"
#include "SampleValues.h"
#include "TempFolder.h"
#include "TestEnv.h"

using namespace appdriver;
namespace fs = std::filesystem;

namespace {
const wchar_t kStartupText[] = L"Drop a .JP2 file to process\nThis program WILL take a long time to run";

class App : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FreeImage_Initialise(FALSE); }
  static void TearDownTestSuite() { FreeImage_DeInitialise(); }
  void SetUp() override {
    if (!fs::exists(testenv::TestData() / "tile" / "T33UUP_20250101T101021_B03.jp2"))
      GTEST_SKIP() << "generated tile missing (scripts/make-testdata.sh)";
    ClearSettings();
  }
  // The demo shares the Wine prefix: leave it the first-run settings.
  void TearDown() override { ClearSettings(); }
};

// Every pixel of a true-colour composite against the generator's formula.
void ExpectTrueColourComposite(const fs::path& file) {
  FIBITMAP* dib = FreeImage_LoadU(FreeImage_GetFileTypeU(file.c_str(), 0), file.c_str(), 0);
  ASSERT_NE(dib, nullptr) << file;
  EXPECT_EQ(FreeImage_GetImageType(dib), FIT_RGB16);
  unsigned w = FreeImage_GetWidth(dib), h = FreeImage_GetHeight(dib);
  EXPECT_EQ(w, 300u);
  EXPECT_EQ(h, 200u);
  int bad = 0;
  for (unsigned y = 0; y < h && bad < 5; ++y) {
    const auto* row = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(dib, static_cast<int>(h - 1 - y)));
    for (unsigned x = 0; x < w && bad < 5; ++x) {
      const FIRGB16& p = row[x];
      if (p.red != sample::Value(4, x, y) || p.green != sample::Value(3, x, y) || p.blue != sample::Value(2, x, y)) {
        ADD_FAILURE() << "pixel " << x << "," << y;
        ++bad;
      }
    }
  }
  FreeImage_Unload(dib);
}

DWORD Setting(const wchar_t* name) {
  DWORD v = 0xDEADBEEF;
  EXPECT_TRUE(ReadSetting(name, v)) << "missing " << fs::path(name).string();
  return v;
}
}  // namespace

TEST_F(App, BandFileArgumentRunsTheJobReportsAndStoresEverythingAtClose) {
  fs::path dir = CopyTile(L"e2e");
  fs::path band = dir / "T33UUP_20250101T101021_B03.jp2";
  TProgram p(band.c_str());
  HWND main = p.WaitMainWindow();
  ASSERT_TRUE(main);
  HWND box = p.WaitMessageBox(60000);
  ASSERT_TRUE(box) << "no message box; status " << fs::path(p.Status()).string();
  EXPECT_EQ(MessageText(box), L"Production of 48-bit TIF  complete!");
  EXPECT_FALSE(IsWindowEnabled(main));  // the window is disabled while the box is up
  PressOk(box);
  EXPECT_TRUE(p.WaitStatus(L"Finished", 10000)) << fs::path(p.Status()).string();
  EXPECT_TRUE(IsWindowEnabled(main));
  ExpectTrueColourComposite(dir / "T33UUP_20250101T101021_48.tif");
  EXPECT_FALSE(fs::exists(dir / "T33UUP_20250101T101021_48.png"));

  RECT r{};
  GetWindowRect(main, &r);
  RECT c{};
  GetClientRect(main, &c);
  EXPECT_EQ(p.CloseAndWait(), 0);
  EXPECT_EQ(Setting(L"SaveFormat"), 1u);
  EXPECT_EQ(Setting(L"BeepWhenDone"), 0u);
  EXPECT_EQ(Setting(L"FormState"), 0u);
  EXPECT_EQ(static_cast<LONG>(Setting(L"FormLeft")), r.left);
  EXPECT_EQ(static_cast<LONG>(Setting(L"FormTop")), r.top);
  EXPECT_EQ(static_cast<LONG>(Setting(L"FormWidth")), r.right - r.left);
  EXPECT_EQ(static_cast<LONG>(Setting(L"FormHeight")), r.bottom - r.top);
  EXPECT_EQ(static_cast<LONG>(Setting(L"FormClientWidth")), c.right);
  EXPECT_EQ(static_cast<LONG>(Setting(L"FormClientHeight")), c.bottom);
  fs::remove_all(dir);
}

// A product's folder or zip on the command line: the window runs the 10 m (L2A) or native
// (L1C) true colour, beside the red band or beside the zip.
TEST_F(App, ProductFolderAndZipArgumentsGiveTheirComposites) {
  namespace pt = producttrees;
  const fs::path dir = testenv::FreshPrivateFolder("bandweave-app-products-");
  const pt::TProduct l2a = pt::MakeL2a(dir / "l2a", {{10, testenv::TestData() / "tile"}, {20, testenv::TestData() / "tiny"}});
  const pt::TProduct l1c = pt::MakeL1c(dir / "l1c", testenv::TestData() / "tile");
  const fs::path zips = dir / "zips";
  const std::string zipName = "S2B_MSIL1C_20250101T101021_N0511_R022_T33UUP_20250101T120000.zip";
  pt::WriteBytes(zips / zipName, pt::ZipBytes(pt::EntriesOf(l1c.Safe)));
  std::string cut = pt::ReadBytes(zips / zipName);
  pt::WriteBytes(dir / "bad" / "cut.zip", cut.substr(0, cut.size() / 2));

  const auto run = [](const fs::path& arg, const std::wstring& expected) {
    TProgram p(arg.c_str());
    ASSERT_TRUE(p.WaitMainWindow());
    HWND box = p.WaitMessageBox(60000);
    ASSERT_TRUE(box) << "no message box; status " << fs::path(p.Status()).string();
    EXPECT_EQ(MessageText(box), expected);
    PressOk(box);
    if (expected.rfind(L"Production", 0) == 0) {
      EXPECT_TRUE(p.WaitStatus(L"Finished", 10000));
    }
    EXPECT_EQ(p.CloseAndWait(), 0);
  };
  for (const fs::path& entry : {l2a.Safe, l2a.Safe / "MTD_MSIL2A.xml", l2a.Granule, l2a.ImgData}) {
    SCOPED_TRACE(entry.string());
    run(entry, L"Production of 48-bit TIF  complete!");
    ExpectTrueColourComposite(l2a.ImgData / "R10m" / "T33UUP_20250101T101021_48_10m.tif");
    EXPECT_FALSE(fs::exists(l2a.ImgData / "R20m" / "T33UUP_20250101T101021_48_20m.tif"));
    fs::remove(l2a.ImgData / "R10m" / "T33UUP_20250101T101021_48_10m.tif");
  }
  {
    SCOPED_TRACE("L1C zip");
    fs::remove_all(l1c.Safe);
    run(zips / zipName, L"Production of 48-bit TIF  complete!");
    ExpectTrueColourComposite(zips / "T33UUP_20250101T101021_48.tif");
    EXPECT_EQ(std::distance(fs::directory_iterator(zips), fs::directory_iterator()), 2);  // the zip and the composite: the unpacked bands are gone
  }
  {
    SCOPED_TRACE("truncated zip");
    run(dir / "bad" / "cut.zip", L"Damaged or incomplete zip: cut.zip");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "bad"), fs::directory_iterator()), 1);
  }
  fs::remove_all(dir);
}

// A job of several seconds (4000 x 4000 bands): the window answers a message sent every 100 ms
// within 1 s throughout, the final box's coming and going included, and the system never
// counts it as hung.
TEST_F(App, WindowAnswersMessagesThroughoutALongJob) {
  fs::path dir = CopyTile(L"large", "large");
  if (dir.empty()) GTEST_SKIP() << "large generated tile missing (scripts/make-testdata.sh)";
  TProgram p((dir / "T33UUP_20250101T101021_B03.jp2").c_str());
  HWND main = p.WaitMainWindow();
  ASSERT_TRUE(main);
  const DWORD start = GetTickCount();
  TResponsivenessProbe probe(main, SMTO_ABORTIFHUNG, 1000, p.StatusLine());
  HWND box = p.WaitMessageBox(300000);
  const DWORD jobMs = GetTickCount() - start;
  ASSERT_TRUE(box) << "no message box; status " << fs::path(p.Status()).string();
  EXPECT_EQ(MessageText(box), L"Production of 48-bit TIF  complete!");
  PressOk(box);
  EXPECT_TRUE(p.WaitStatus(L"Finished", 10000));
  // A little longer, so that probes fall after the box has gone too.
  Sleep(500);
  probe.Stop();
  EXPECT_EQ(p.CloseAndWait(), 0);
  fs::remove_all(dir);
  // Long enough for a stage that serves nothing to show.
  EXPECT_GE(jobMs, 2000u);
  const std::string seen = std::to_string(probe.Unanswered()) + " of " + std::to_string(probe.Probes()) +
                           " probes unanswered within 1 s, worst answer " + std::to_string(probe.WorstMs()) +
                           " ms during \"" + fs::path(probe.WorstDuring()).string() + "\"";
  EXPECT_EQ(probe.Unanswered(), 0) << seen;
  EXPECT_EQ(probe.HungSeen(), 0) << seen;
}

TEST_F(App, WithoutAJobTheStartUpTextStaysAndNothingIsShown) {
  fs::path dir = CopyTile(L"nojob");
  std::wstring missing = (dir / "T33UUP_20250101T101021_B09.jp2").wstring();
  std::wstring folder = dir.wstring();
  // A zip that is no product is as silent as any other file that is not JPEG 2000.
  producttrees::WriteBytes(dir / "holiday.zip", producttrees::ZipBytes({{"photos/beach.jpg", "jpeg"}, {"readme.txt", "hi"}}));
  std::wstring zip = (dir / "holiday.zip").wstring();
  const wchar_t* args[] = {nullptr, missing.c_str(), folder.c_str(), zip.c_str()};
  for (const wchar_t* arg : args) {
    SCOPED_TRACE(arg ? fs::path(arg).string() : "no argument");
    TProgram p(arg);
    ASSERT_TRUE(p.WaitMainWindow());
    EXPECT_TRUE(p.WaitStatus(kStartupText, 5000)) << fs::path(p.Status()).string();
    // Well past the 70 ms a job would wait for.
    EXPECT_EQ(p.WaitMessageBox(600), nullptr);
    EXPECT_EQ(p.Status(), kStartupText);
    EXPECT_EQ(p.CloseAndWait(), 0);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5);
  fs::remove_all(dir);
}

TEST_F(App, SecondStartComesBackWhereAndHowTheFirstEnded) {
  {
    TProgram p(nullptr);
    HWND main = p.WaitMainWindow();
    ASSERT_TRUE(main);
    ASSERT_TRUE(p.WaitStatus(kStartupText, 5000));
    // First start: TIFF selected, no beep.
    HWND png = p.ChildByText(L"PNG"), tiff = p.ChildByText(L"TIFF"), beep = p.ChildByText(L"Beep when done");
    ASSERT_TRUE(png && tiff && beep);
    EXPECT_EQ(SendMessageW(tiff, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(beep, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    SendMessageW(png, BM_CLICK, 0, 0);
    SendMessageW(beep, BM_CLICK, 0, 0);
    SetWindowPos(main, nullptr, 300, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(p.CloseAndWait(), 0);
  }
  EXPECT_EQ(Setting(L"SaveFormat"), 0u);
  EXPECT_EQ(Setting(L"BeepWhenDone"), 1u);
  EXPECT_EQ(Setting(L"FormLeft"), 300u);
  EXPECT_EQ(Setting(L"FormTop"), 200u);

  fs::path dir = CopyTile(L"second");
  fs::path band = dir / "T33UUP_20250101T101021_B02.jp2";
  TProgram p(band.c_str());
  HWND main = p.WaitMainWindow();
  ASSERT_TRUE(main);
  RECT r{};
  GetWindowRect(main, &r);
  EXPECT_EQ(r.left, 300);
  EXPECT_EQ(r.top, 200);
  EXPECT_EQ(SendMessageW(p.ChildByText(L"PNG"), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(p.ChildByText(L"Beep when done"), BM_GETCHECK, 0, 0), BST_CHECKED);
  // The stored PNG choice decides the output.
  HWND box = p.WaitMessageBox(60000);
  ASSERT_TRUE(box);
  EXPECT_EQ(MessageText(box), L"Production of 48-bit PNG  complete!");
  PressOk(box);
  EXPECT_TRUE(p.WaitStatus(L"Finished", 10000));
  ExpectTrueColourComposite(dir / "T33UUP_20250101T101021_48.png");
  EXPECT_EQ(p.CloseAndWait(), 0);
  fs::remove_all(dir);
}

TEST_F(App, LayoutAsDesignedReadBackFromTheRealWindows) {
  TProgram p(nullptr);
  HWND main = p.WaitMainWindow();
  ASSERT_TRUE(main);
  int dpi = GetDeviceCaps(GetDC(nullptr), LOGPIXELSX);
  auto px = [dpi](int v) { return MulDiv(v, dpi, 96); };
  RECT c{};
  GetClientRect(main, &c);
  EXPECT_EQ(c.right, px(301));
  EXPECT_EQ(c.bottom, px(129));
  EXPECT_EQ(GetWindowLongPtrW(main, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0);

  struct Expect {
    const wchar_t* Text;
    const wchar_t* Class;
    int Left, Top, Width, Height;
  };
  const Expect table[] = {
      {L"Close", L"Button", 220, 96, 73, 25},
      {L"Save format", L"Button", 8, 72, 121, 41},
      {L"Beep when done", L"Button", 12, 45, 105, 17},
  };
  for (const Expect& e : table) {
    SCOPED_TRACE(fs::path(e.Text).string());
    HWND w = p.ChildByText(e.Text);
    ASSERT_TRUE(w);
    EXPECT_EQ(GetParent(w), main);
    EXPECT_EQ(ClassOf(w), e.Class);
    RECT r = ChildRect(w);
    EXPECT_EQ(r.left, px(e.Left));
    EXPECT_EQ(r.top, px(e.Top));
    EXPECT_EQ(r.right - r.left, px(e.Width));
    EXPECT_EQ(r.bottom - r.top, px(e.Height));
  }
  // The status line ("Status..." for its first 100 ms, checked in-process) stays at 8, 8 and
  // sizes itself to the two lines of the start-up text.
  ASSERT_TRUE(p.WaitStatus(L"Drop a .JP2 file to process\nThis program WILL take a long time to run", 5000));
  RECT s = ChildRect(p.StatusLine());
  EXPECT_EQ(s.left, px(8));
  EXPECT_EQ(s.top, px(8));
  EXPECT_GT(s.bottom - s.top, px(20));
  // Tab order: Close, the save-format group (its buttons take the focus, not its frame), the
  // check box.
  std::vector<std::wstring> texts;
  for (HWND k : Children(main))
    if (IsWindowVisible(k)) texts.push_back(WindowText(k));
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(texts[1], L"Close");
  EXPECT_EQ(texts[2], L"Save format");
  EXPECT_EQ(texts[3], L"Beep when done");
  EXPECT_TRUE(GetWindowLongPtrW(p.ChildByText(L"Close"), GWL_STYLE) & WS_TABSTOP);
  EXPECT_TRUE(GetWindowLongPtrW(p.ChildByText(L"Beep when done"), GWL_STYLE) & WS_TABSTOP);
  // Tab reaches the group through its selected button.
  EXPECT_TRUE(GetWindowLongPtrW(p.ChildByText(L"TIFF"), GWL_STYLE) & WS_TABSTOP);
  EXPECT_EQ(p.CloseAndWait(), 0);
}

TEST_F(App, CloseButtonEndsTheProgram) {
  TProgram p(nullptr);
  HWND main = p.WaitMainWindow();
  ASSERT_TRUE(main);
  HWND close = p.ChildByText(L"Close");
  ASSERT_TRUE(close);
  PostMessageW(main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(close), BN_CLICKED), reinterpret_cast<LPARAM>(close));
  DWORD v = 0;
  // The program ends by itself; CloseAndWait's WM_CLOSE would find no window.
  for (int i = 0; i < 250 && !ReadSetting(L"FormClientHeight", v); ++i) Sleep(20);
  EXPECT_TRUE(ReadSetting(L"FormClientHeight", v));
  EXPECT_EQ(p.CloseAndWait(), 0);
}

TEST_F(App, EndOfSessionStoresTheSettingsAndEndsTheProgram) {
  TProgram p(nullptr);
  HWND main = p.WaitMainWindow();
  ASSERT_TRUE(main);
  ASSERT_TRUE(p.WaitStatus(kStartupText, 5000));
  SendMessageW(p.ChildByText(L"PNG"), BM_CLICK, 0, 0);
  DWORD_PTR r = 0;
  // As the system sends it at log-off: the process may be ended once the message returns.
  ASSERT_TRUE(SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 10000, &r));
  EXPECT_EQ(Setting(L"SaveFormat"), 0u);
  EXPECT_EQ(Setting(L"BeepWhenDone"), 0u);
  EXPECT_EQ(Setting(L"FormState"), 0u);
  EXPECT_EQ(p.CloseAndWait(), 0);
}

TEST(AppResources, VersionRecordManifestAndNoIcon) {
  std::wstring exe = ExePath();
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(4, 1));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(20, 0));
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(4, 1));
  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"ProductName", L"Bandweave"},
      {L"FileDescription", L"Bandweave executable"},
      {L"OriginalFilename", L"Bandweave.exe"},
      {L"InternalName", L"Converts Copernicus Sentinel 2 data"},
      {L"FileVersion", L"1.4.0.20"},
      {L"ProductVersion", L"1.4"},
      {L"Comments", L"2017-Jan-30"},
  };
  for (const auto& s : strings) {
    std::wstring key = std::wstring(L"\\StringFileInfo\\040904E4\\") + s.first;
    wchar_t* value = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &len))
        << fs::path(s.first).string();
    EXPECT_EQ(std::wstring(value), s.second);
  }

  HMODULE m = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(m);
  HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_TRUE(r);
  std::string manifest(static_cast<const char*>(LockResource(LoadResource(m, r))), SizeofResource(m, r));
  EXPECT_NE(manifest.find("True/PM"), std::string::npos);
  EXPECT_NE(manifest.find("asInvoker"), std::string::npos);
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  // Vista, 7, 8, 8.1 and 10.
  for (const char* os : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                         "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
    EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + os + "\"/>"), std::string::npos) << os;
  FreeLibrary(m);
  EXPECT_EQ(ExtractIconExW(exe.c_str(), -1, nullptr, nullptr, 0), 0u);
}
