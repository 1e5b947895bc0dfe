#include "Forms.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "Dialogs.h"
#include "ExceptionBoundary.h"

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

// ---------------------------------------------------------------------------------------- DPI

namespace {
// Windows 10's names, which the Windows 7 headers this program builds against do not have.
constexpr UINT kWmDpiChanged = 0x02E0;  // WM_DPICHANGED

// Entry points that Windows 7 lacks: looked up, never linked, so the program still starts there.
template <class F>
F UserEntry(const char* name) {
  HMODULE m = GetModuleHandleW(L"user32.dll");
  return m ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

int DeviceDpi() {
  HDC dc = GetDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

void AdjustRectForDpi(RECT* r, DWORD style, DWORD exStyle, int dpi) {
  using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static Fn fn = UserEntry<Fn>("AdjustWindowRectExForDpi");
  if (fn && fn(r, style, FALSE, exStyle, static_cast<UINT>(dpi))) return;
  AdjustWindowRectEx(r, style, FALSE, exStyle);
}

bool IconTitleFont(LOGFONTW* lf, int dpi) {
  using Fn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static Fn fn = UserEntry<Fn>("SystemParametersInfoForDpi");
  if (fn && fn(SPI_GETICONTITLELOGFONT, sizeof *lf, lf, 0, static_cast<UINT>(dpi))) return true;
  if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof *lf, lf, 0)) return false;
  // The plain call answers for the system DPI.
  lf->lfHeight = MulDiv(lf->lfHeight, dpi, SystemDpi());
  return true;
}
}  // namespace

int ScaleForDpi(int Value, int Dpi) { return MulDiv(Value, Dpi, 96); }

// ------------------------------------------------------------------------------------ Work areas

namespace {
RECT WorkAreaOf(HMONITOR Monitor) {
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  if (!Monitor || !GetMonitorInfoW(Monitor, &mi)) return RECT{0, 0, 0, 0};
  // The primary monitor's work area as the system parameter states it: that is where it is
  // set, and Wine leaves the monitor's own figure unchanged when it is.
  RECT area{};
  if ((mi.dwFlags & MONITORINFOF_PRIMARY) && SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0))
    return area;
  return mi.rcWork;
}

BOOL CALLBACK AddWorkArea(HMONITOR Monitor, HDC, LPRECT, LPARAM Areas) {
  reinterpret_cast<std::vector<RECT>*>(Areas)->push_back(WorkAreaOf(Monitor));
  return TRUE;
}
}  // namespace

RECT RectOnAWorkArea(const RECT& R) {
  std::vector<RECT> areas;
  EnumDisplayMonitors(nullptr, nullptr, AddWorkArea, reinterpret_cast<LPARAM>(&areas));
  RECT overlap{};
  for (const RECT& area : areas)
    if (IntersectRect(&overlap, &area, &R)) return R;
  const RECT area = WorkAreaOf(MonitorFromRect(&R, MONITOR_DEFAULTTONEAREST));
  if (IsRectEmpty(&area)) return R;
  const LONG width = R.right - R.left, height = R.bottom - R.top;
  const LONG left = std::max(area.left, std::min(R.left, area.right - width));
  const LONG top = std::max(area.top, std::min(R.top, area.bottom - height));
  return RECT{left, top, left + width, top + height};
}

int SystemDpi() {
  using Fn = UINT(WINAPI*)();
  static Fn fn = UserEntry<Fn>("GetDpiForSystem");
  if (fn) {
    UINT d = fn();
    if (d) return static_cast<int>(d);
  }
  return DeviceDpi();
}

int DpiForWindow(HWND Wnd) {
  using Fn = UINT(WINAPI*)(HWND);
  static Fn fn = UserEntry<Fn>("GetDpiForWindow");
  if (fn && Wnd) {
    UINT d = fn(Wnd);
    if (d) return static_cast<int>(d);
  }
  return SystemDpi();
}

// ---------------------------------------------------------------------------------------- TForm

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner) {
  FVisible = false;
  FParentShowHint = false;
  ApplyFont();
}

TForm::~TForm() {
  DestroyHandle();
  if (FOwnFont) DeleteObject(FOwnFont);
}

void TForm::AfterConstruction() {
  if (FCreated) return;
  FCreated = true;
  if (OnCreate) GuardBoundary([this] { OnCreate(this); });
}

void TForm::BeforeDestruction() {
  if (Destroying()) return;
  if (OnDestroy) GuardBoundary([this] { OnDestroy(this); });
  TWinControl::BeforeDestruction();
}

void TForm::Loaded() {
  TWinControl::Loaded();
  // The layout is at PixelsPerInch; lay it out for the screen it will appear on.
  int dpi = FHandle ? DpiForWindow(FHandle) : SystemDpi();
  if (dpi != FCurrentPPI) ScaleForPPI(dpi);
}

void TForm::ScaleForPPI(int NewPPI) {
  if (NewPPI <= 0 || NewPPI == FCurrentPPI) return;
  int old = FCurrentPPI;
  FScaling = true;
  std::vector<TWinControl*> todo;
  for (TControl* c : FControls)
    if (auto* w = dynamic_cast<TWinControl*>(c)) todo.push_back(w);
  while (!todo.empty()) {
    TWinControl* w = todo.back();
    todo.pop_back();
    w->SetBounds(MulDiv(w->Left(), NewPPI, old), MulDiv(w->Top(), NewPPI, old), MulDiv(w->Width(), NewPPI, old),
                 MulDiv(w->Height(), NewPPI, old));
    for (int i = 0; i < w->ControlCount(); ++i)
      if (auto* cw = dynamic_cast<TWinControl*>(w->Controls(i))) todo.push_back(cw);
  }
  FCurrentPPI = NewPPI;
  FClientWidth = MulDiv(ClientWidth(), NewPPI, old);
  FClientHeight = MulDiv(ClientHeight(), NewPPI, old);
  ApplyFont();
  ApplyClientSize();
  FScaling = false;
}

void TForm::SetDesignedFont(const std::wstring& FaceName, int Height) {
  FFontName = FaceName;
  FFontHeight = Height;
  ApplyFont();
}

void TForm::SetDesktopFont(bool Value) {
  FDesktopFont = Value;
  ApplyFont();
}

void TForm::ApplyFont() {
  LOGFONTW lf{};
  if (!FDesktopFont || !IconTitleFont(&lf, FCurrentPPI)) {
    lf = LOGFONTW{};
    lf.lfHeight = ScaleForDpi(FFontHeight, FCurrentPPI);
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(lf.lfFaceName, FFontName.c_str(), LF_FACESIZE);
  }
  HFONT f = CreateFontIndirectW(&lf);
  if (!f) return;
  HFONT old = FOwnFont;
  FOwnFont = f;
  SetFont(f);
  if (old) DeleteObject(old);
}

void TForm::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.WinClassName = L"TForm";
  Params.Menu = nullptr;
  Params.WndParent = nullptr;
  Params.Style = WS_CLIPCHILDREN;
  Params.ExStyle = WS_EX_CONTROLPARENT;
  if (FBorderStyle == bsDialog) {
    Params.Style |= WS_CAPTION | WS_SYSMENU;
    Params.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
  } else {
    Params.Style |= WS_OVERLAPPEDWINDOW;
  }
  // The first form made is the main form; it may get its window before CreateForm returns.
  if (Application && Application->MainFormOnTaskBar() &&
      (!Application->MainForm() || Application->MainForm() == this))
    Params.ExStyle |= WS_EX_APPWINDOW;
  RECT r{0, 0, FClientWidth, FClientHeight};
  AdjustRectForDpi(&r, Params.Style, Params.ExStyle, FCurrentPPI);
  Params.Width = r.right - r.left;
  Params.Height = r.bottom - r.top;
  if (FPosition == poDefaultPosOnly) {
    // The window system picks where a new top-level window goes.
    Params.X = CW_USEDEFAULT;
    Params.Y = CW_USEDEFAULT;
  } else {
    Params.X = FLeft;
    Params.Y = FTop;
  }
}

void TForm::CreatedWnd() {
  FToolTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, FHandle, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  if (FToolTip) SendMessageW(FToolTip, TTM_SETMAXTIPWIDTH, 0, ScaleForDpi(480, FCurrentPPI));  // lets tips break lines
  RECT w{};
  GetWindowRect(FHandle, &w);
  FLeft = w.left;
  FTop = w.top;
  FWidth = w.right - w.left;
  FHeight = w.bottom - w.top;
  RECT c{};
  GetClientRect(FHandle, &c);
  FLastClientW = c.right;
  FLastClientH = c.bottom;
  MeasureWorkspaceOffset();
  // The window may have landed on a monitor of another DPI than the one we guessed.
  int dpi = DpiForWindow(FHandle);
  if (dpi != FCurrentPPI && !Loading()) ScaleForPPI(dpi);
}

void TForm::DestroyWnd() {
  if (FHandle) {
    // Keep the last placement: a form without window still answers Left, Top, ...
    RECT w = OuterRect();
    SIZE c = ClientSize();
    FLeft = w.left;
    FTop = w.top;
    FWidth = w.right - w.left;
    FHeight = w.bottom - w.top;
    FClientWidth = c.cx;
    FClientHeight = c.cy;
    FWindowState = WindowState();
  }
  if (FToolTip) {
    DestroyWindow(FToolTip);
    FToolTip = nullptr;
  }
  TWinControl::DestroyWnd();
}

RECT TForm::OuterRect() const {
  RECT r{};
  // A minimised window's own rectangle is its task-bar stand-in; its placement is the one
  // it comes back to, and the one worth remembering.
  if (IsIconic(FHandle)) {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    if (GetWindowPlacement(FHandle, &wp)) {
      OffsetRect(&wp.rcNormalPosition, FWorkspaceOffset.x, FWorkspaceOffset.y);
      return wp.rcNormalPosition;
    }
  }
  GetWindowRect(FHandle, &r);
  return r;
}

void TForm::MeasureWorkspaceOffset() {
  if (!FHandle || IsIconic(FHandle) || IsZoomed(FHandle)) return;
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  RECT r{};
  if (!GetWindowPlacement(FHandle, &wp) || !GetWindowRect(FHandle, &r)) return;
  FWorkspaceOffset = POINT{r.left - wp.rcNormalPosition.left, r.top - wp.rcNormalPosition.top};
}

SIZE TForm::ClientSize() const {
  if (IsIconic(FHandle)) {
    // A minimised window has no client area: take the frame off its normal size instead.
    RECT outer = OuterRect();
    RECT frame{0, 0, 0, 0};
    AdjustRectForDpi(&frame, static_cast<DWORD>(GetWindowLongPtrW(FHandle, GWL_STYLE)),
                     static_cast<DWORD>(GetWindowLongPtrW(FHandle, GWL_EXSTYLE)), FCurrentPPI);
    return SIZE{(outer.right - outer.left) - (frame.right - frame.left),
                (outer.bottom - outer.top) - (frame.bottom - frame.top)};
  }
  RECT r{};
  GetClientRect(FHandle, &r);
  return SIZE{r.right, r.bottom};
}

int TForm::Left() const { return FHandle ? OuterRect().left : FLeft; }

int TForm::Top() const { return FHandle ? OuterRect().top : FTop; }

int TForm::Width() const {
  if (!FHandle) return FWidth;
  RECT r = OuterRect();
  return r.right - r.left;
}

int TForm::Height() const {
  if (!FHandle) return FHeight;
  RECT r = OuterRect();
  return r.bottom - r.top;
}

void TForm::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  if (!FHandle) return;
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  if (IsIconic(FHandle) && GetWindowPlacement(FHandle, &wp)) {
    // Minimised, the bounds are those it comes back to; it stays minimised.
    wp.rcNormalPosition = RECT{ALeft, ATop, ALeft + AWidth, ATop + AHeight};
    OffsetRect(&wp.rcNormalPosition, -FWorkspaceOffset.x, -FWorkspaceOffset.y);
    SetWindowPlacement(FHandle, &wp);
    return;
  }
  SetWindowPos(FHandle, nullptr, ALeft, ATop, AWidth, AHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

int TForm::ClientWidth() const { return FHandle ? ClientSize().cx : FClientWidth; }

int TForm::ClientHeight() const { return FHandle ? ClientSize().cy : FClientHeight; }

void TForm::SetClientWidth(int Value) {
  if (!FHandle && FClientWidth > 0 && !FScaling) AlignControls(Value - FClientWidth, 0);
  FClientWidth = Value;
  ApplyClientSize();
}

void TForm::SetClientHeight(int Value) {
  if (!FHandle && FClientHeight > 0 && !FScaling) AlignControls(0, Value - FClientHeight);
  FClientHeight = Value;
  ApplyClientSize();
}

void TForm::ApplyClientSize() {
  if (!FHandle) return;
  // The frame as it is now, not as a calculation for some DPI says it would be.
  RECT w = OuterRect();
  SIZE c = ClientSize();
  int frameW = (w.right - w.left) - c.cx, frameH = (w.bottom - w.top) - c.cy;
  if (IsIconic(FHandle)) {
    TForm::SetBounds(w.left, w.top, FClientWidth + frameW, FClientHeight + frameH);
    return;
  }
  SetWindowPos(FHandle, nullptr, 0, 0, FClientWidth + frameW, FClientHeight + frameH,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

TWindowState TForm::WindowState() const {
  if (!FHandle) return FWindowState;
  if (IsIconic(FHandle)) return wsMinimized;
  if (IsZoomed(FHandle)) return wsMaximized;
  return wsNormal;
}

void TForm::SetWindowState(TWindowState Value) {
  FWindowState = Value;
  if (!FHandle || !IsWindowVisible(FHandle)) return;
  ShowWindow(FHandle, Value == wsMinimized ? SW_MINIMIZE : Value == wsMaximized ? SW_MAXIMIZE : SW_RESTORE);
}

void TForm::Show() {
  HandleNeeded();
  DoShow();
  FVisible = true;
  int cmd = FWindowState == wsMinimized ? SW_SHOWMINIMIZED : FWindowState == wsMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  ShowWindow(FHandle, cmd);
  UpdateWindow(FHandle);
}

void TForm::DoShow() {
  if (OnShow) OnShow(this);
}

void TForm::Close() {
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
    return;
  }
  FVisible = false;
  if (FHandle) ShowWindow(FHandle, SW_HIDE);
}

LRESULT TForm::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ENDSESSION:
      // The session ends, and the process with it as soon as this returns: the main form
      // goes now, so that what it and its controls store when destroyed is stored.
      // Only when it reaches the loop waiting for work: inside a long job (a message box, a
      // look at the queue) the job still uses the form, and the settings are left unstored.
      if (wParam && Application && Application->MainForm() == this && Application->Idle()) {
        Application->Terminate();
        TComponent::Free(this);
        return 0;  // nothing of this object may be touched any more
      }
      break;
    case WM_MOVE:
      MeasureWorkspaceOffset();
      break;
    case WM_SIZE:
      MeasureWorkspaceOffset();
      if (wParam != SIZE_MINIMIZED) {
        int w = LOWORD(lParam), h = HIWORD(lParam);
        if (!FScaling) AlignControls(w - FLastClientW, h - FLastClientH);
        FLastClientW = w;
        FLastClientH = h;
      }
      break;
    case kWmDpiChanged: {
      ScaleForPPI(LOWORD(wParam));
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      FScaling = true;
      SetWindowPos(FHandle, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      FScaling = false;
      RECT c{};
      GetClientRect(FHandle, &c);
      FLastClientW = c.right;
      FLastClientH = c.bottom;
      return 0;
    }
    default:
      break;
  }
  return TWinControl::WndProc(Msg, wParam, lParam);
}

// ---------------------------------------------------------------------------------------- TScreen

HCURSOR TScreen::CursorHandle() const {
  switch (FCursor) {
    case crHourGlass:
      return LoadCursorW(nullptr, IDC_WAIT);
    case crArrow:
      return LoadCursorW(nullptr, IDC_ARROW);
    default:
      return nullptr;
  }
}

void TScreen::SetCursor(TCursor Value) {
  FCursor = Value;
  HCURSOR h = CursorHandle();
  SetOverrideCursor(h);
  // Shown now: a long job holds the thread, so no WM_SETCURSOR would come to show it.
  ::SetCursor(h ? h : LoadCursorW(nullptr, IDC_ARROW));
}

// ---------------------------------------------------------------------------------- TApplication

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

TApplication::~TApplication() {
  if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent == FMainForm) FMainForm = nullptr;
  TComponent::Notification(AComponent, Operation);
}

void TApplication::Run() {
  if (FMainForm) GuardBoundary([this] { FMainForm->Show(); });
  MSG msg;
  while (!FTerminated) {
    FIdle = true;  // messages sent to us now find nothing of ours on the stack
    BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    FIdle = false;
    if (r == 0 || r == -1) break;
    // Tab and arrow keys move between the controls as in a dialog.
    HWND active = GetActiveWindow();
    if (active && TWinControl::FindControl(active) && IsDialogMessageW(active, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  FTerminated = true;
}

void TApplication::Terminate() {
  if (FTerminated) return;
  FTerminated = true;
  PostQuitMessage(0);
}

void TApplication::HandleException(const std::exception* E) {
  if (OnException) {
    OnException(E);
    return;
  }
  ShowMessage(ExceptionText(E, L"Unexpected error"));
}

void ShowMessage(const std::wstring& Msg) {
  // The owner is disabled while the box is up, so the window takes no input meanwhile.
  HWND owner = GetActiveWindow();
  if (!owner && Application && Application->MainForm() && Application->MainForm()->HandleAllocated())
    owner = Application->MainForm()->Handle();
  ShowMessage(Msg, owner, Application ? Application->Title() : std::wstring());
}

void GuiInitialize() {
  SetBoundaryHandler([](const std::exception* E) {
    if (Application) Application->HandleException(E);
  });
  if (!Application) {
    Application = new TApplication(nullptr);
    Application->Initialize();
  }
  if (!Screen) Screen = new TScreen(nullptr);
}

void GuiFinalize() {
  SetBoundaryHandler(nullptr);
  TComponent::Free(Application);
  Application = nullptr;
  TComponent::Free(Screen);
  Screen = nullptr;
}
