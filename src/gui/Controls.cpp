#include "Controls.h"

#include <commctrl.h>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "ExceptionBoundary.h"

namespace {
const wchar_t kControlProp[] = L"BandweaveControl";
UINT_PTR gNextControlId = 100;
HCURSOR gOverrideCursor = nullptr;

TWinControl* TopControl(TWinControl* c) {
  TWinControl* root = c;
  while (root->Parent()) root = root->Parent();
  return root;
}
}  // namespace

void SetOverrideCursor(HCURSOR Cursor) { gOverrideCursor = Cursor; }
HCURSOR OverrideCursor() { return gOverrideCursor; }

// ---------------------------------------------------------------------------------------- TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  if (FParent) FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* AParent) {
  if (AParent == FParent) return;
  if (FParent) FParent->RemoveControl(this);
  if (AParent) AParent->InsertControl(this);
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (AWidth < 0) AWidth = 0;
  if (AHeight < 0) AHeight = 0;
  if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight) return;
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  BoundsChanged();
}

void TControl::SetVisible(bool Value) { FVisible = Value; }

std::wstring TControl::Caption() const { return FCaption; }
void TControl::SetCaption(const std::wstring& Value) { FCaption = Value; }

void TControl::SetHint(const std::wstring& Value) {
  if (Value == FHint) return;
  FHint = Value;
  HintChanged();
}

bool TControl::ShowHint() const {
  if (FParentShowHint && FParent) return FParent->ShowHint();
  return FShowHint;
}

void TControl::SetShowHint(bool Value) {
  FShowHint = Value;
  FParentShowHint = false;
  HintChanged();
}

void TControl::SetParentShowHint(bool Value) {
  FParentShowHint = Value;
  HintChanged();
}

void TControl::HintChanged() {}

void TControl::Update() {
  if (FParent) FParent->Update();
}

void TControl::Invalidate() {
  if (FParent) FParent->Invalidate();
}

// ------------------------------------------------------------------------------------- TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  // Normally gone already (BeforeDestruction); this covers a bare delete.
  DestroyHandle();
  for (TControl* c : FControls) c->FParent = nullptr;
  FControls.clear();
}

void TWinControl::BeforeDestruction() {
  if (Destroying()) return;
  DestroyHandle();
  TControl::BeforeDestruction();
}

HWND TWinControl::Handle() {
  HandleNeeded();
  return FHandle;
}

void TWinControl::HandleNeeded() {
  if (!FHandle) CreateHandle();
}

void TWinControl::CreateHandle() {
  if (FHandle) return;
  // The parent's window first; making it makes ours as one of its children.
  if (FParent && !FParent->HandleAllocated()) {
    FParent->HandleNeeded();
    if (FHandle) return;
  }
  CreateWnd();
  if (!FHandle) throw std::runtime_error("window not created");
  if (HFONT f = Font()) SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
  CreatedWnd();
  UpdateTool();
  // Children in tab order; equal orders keep the order they were added in.
  std::vector<TControl*> kids = FControls;
  std::stable_sort(kids.begin(), kids.end(), [](TControl* a, TControl* b) {
    auto* wa = dynamic_cast<TWinControl*>(a);
    auto* wb = dynamic_cast<TWinControl*>(b);
    return (wa ? wa->FTabOrder : -1) < (wb ? wb->FTabOrder : -1);
  });
  for (TControl* c : kids)
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->HandleNeeded();
}

void TWinControl::DestroyHandle() {
  if (!FHandle) return;
  for (auto it = FControls.rbegin(); it != FControls.rend(); ++it)
    if (auto* w = dynamic_cast<TWinControl*>(*it)) w->DestroyHandle();
  DestroyWnd();
  if (FHandle) {
    RemovePropW(FHandle, kControlProp);
    FHandle = nullptr;
  }
  FDefWndProc = nullptr;
}

void TWinControl::CreateParams(TCreateParams& Params) {
  Params.WinClassName = L"TWinControl";
  Params.OwnClass = true;
  Params.Caption = FCaption;
  Params.Style = WS_CHILD | WS_CLIPSIBLINGS | (FVisible ? WS_VISIBLE : 0) | (FTabOrder >= 0 ? WS_TABSTOP : 0);
  Params.X = FLeft;
  Params.Y = FTop;
  Params.Width = FWidth;
  Params.Height = FHeight;
  if (FParent) {
    Params.WndParent = FParent->Handle();
    Params.Menu = reinterpret_cast<HMENU>(gNextControlId++);
  }
}

void TWinControl::CreateWnd() {
  TCreateParams p;
  CreateParams(p);
  HINSTANCE inst = GetModuleHandleW(nullptr);
  if (p.OwnClass) {
    static std::set<std::wstring> registered;
    if (!registered.count(p.WinClassName)) {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.style = p.ClassStyle;
      wc.lpfnWndProc = StaticWndProc;
      wc.hInstance = inst;
      wc.hCursor = p.Cursor ? p.Cursor : LoadCursorW(nullptr, IDC_ARROW);
      wc.hbrBackground = p.Background ? p.Background : reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
      wc.lpszClassName = p.WinClassName.c_str();
      if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("window class not registered");
      registered.insert(p.WinClassName);
    }
  }
  HWND w = CreateWindowExW(p.ExStyle, p.WinClassName.c_str(), p.Caption.c_str(), p.Style, p.X, p.Y, p.Width,
                           p.Height, p.WndParent, p.Menu, inst, p.OwnClass ? this : nullptr);
  if (!w) throw std::runtime_error("window not created");
  if (!p.OwnClass) {
    Attach(w, this);
    FDefWndProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWinControl::StaticWndProc)));
  }
}

void TWinControl::DestroyWnd() {
  if (!FHandle) return;
  SetToolFor(FHandle, std::wstring(), false);
  // Read the text back: a window can change it without telling us (a screen reader, a test).
  int n = GetWindowTextLengthW(FHandle);
  std::wstring t(static_cast<size_t>(n) + 1, L'\0');
  t.resize(static_cast<size_t>(GetWindowTextW(FHandle, &t[0], n + 1)));
  FCaption = t;
  DestroyWindow(FHandle);
}

void TWinControl::Attach(HWND Wnd, TWinControl* Control) {
  Control->FHandle = Wnd;
  SetPropW(Wnd, kControlProp, Control);
}

TWinControl* TWinControl::FindControl(HWND Wnd) {
  if (!Wnd) return nullptr;
  return static_cast<TWinControl*>(GetPropW(Wnd, kControlProp));
}

LRESULT CALLBACK TWinControl::StaticWndProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  TWinControl* c = nullptr;
  if (Msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    c = static_cast<TWinControl*>(cs->lpCreateParams);
    if (c) {
      Attach(Wnd, c);
      c->FDefWndProc = DefWindowProcW;
    }
  } else {
    c = FindControl(Wnd);
  }
  if (!c) return DefWindowProcW(Wnd, Msg, wParam, lParam);
  LRESULT r = 0;
  GuardBoundary([&] { r = c->WndProc(Msg, wParam, lParam); });
  if (Msg == WM_NCDESTROY) {
    RemovePropW(Wnd, kControlProp);
    if (c->FHandle == Wnd) c->FHandle = nullptr;
  }
  return r;
}

LRESULT TWinControl::DefaultHandler(UINT Msg, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcW(FDefWndProc ? FDefWndProc : DefWindowProcW, FHandle, Msg, wParam, lParam);
}

LRESULT TWinControl::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case WM_COMMAND:
      // A child's notification goes back to the child that sent it.
      if (lParam) {
        TWinControl* child = FindControl(reinterpret_cast<HWND>(lParam));
        if (child && child != this && child->FParent == this) {
          child->CNCommand(HIWORD(wParam));
          return 0;
        }
      }
      break;
    case WM_SETCURSOR:
      if (HCURSOR h = OverrideCursor()) {
        ::SetCursor(h);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return DefaultHandler(Msg, wParam, lParam);
}

void TWinControl::SetParent(TWinControl* AParent) {
  if (AParent == FParent) return;
  // A window cannot change parents here: it goes, and is made again under the new one.
  DestroyHandle();
  TControl::SetParent(AParent);
  if (FParent && FParent->HandleAllocated()) HandleNeeded();
}

TControl* TWinControl::Controls(int Index) const {
  if (Index < 0 || Index >= ControlCount()) throw std::out_of_range("control index out of bounds");
  return FControls[static_cast<size_t>(Index)];
}

void TWinControl::InsertControl(TControl* AControl) {
  FControls.push_back(AControl);
  AControl->FParent = this;
}

void TWinControl::RemoveControl(TControl* AControl) {
  auto it = std::find(FControls.begin(), FControls.end(), AControl);
  if (it != FControls.end()) FControls.erase(it);
  AControl->FParent = nullptr;
}

void TWinControl::AlignControls(int dx, int dy) {
  if (!dx && !dy) return;
  for (TControl* c : FControls) {
    TAnchors a = c->Anchors();
    int l = c->FLeft, t = c->FTop, w = c->FWidth, h = c->FHeight;
    if (a & akRight) {
      if (a & akLeft) w += dx; else l += dx;
    }
    if (a & akBottom) {
      if (a & akTop) h += dy; else t += dy;
    }
    c->SetBounds(l, t, w, h);
  }
}

std::wstring TWinControl::Caption() const {
  if (!FHandle) return FCaption;
  int n = GetWindowTextLengthW(FHandle);
  std::wstring t(static_cast<size_t>(n) + 1, L'\0');
  t.resize(static_cast<size_t>(GetWindowTextW(FHandle, &t[0], n + 1)));
  return t;
}

void TWinControl::SetCaption(const std::wstring& Value) {
  FCaption = Value;
  if (FHandle) SetWindowTextW(FHandle, Value.c_str());
}

void TWinControl::SetVisible(bool Value) {
  TControl::SetVisible(Value);
  if (FHandle) ShowWindow(FHandle, Value ? SW_SHOWNA : SW_HIDE);
}

void TWinControl::BoundsChanged() {
  // No copied bits: a control that grows (a label taking a longer text) paints itself whole.
  if (FHandle)
    SetWindowPos(FHandle, nullptr, FLeft, FTop, FWidth, FHeight, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
}

HFONT TWinControl::Font() const {
  if (FFont) return FFont;
  return FParent ? FParent->Font() : nullptr;
}

void TWinControl::SetFont(HFONT AFont) {
  FFont = AFont;
  // Tell this control and every descendant that takes its font from here.
  std::vector<TWinControl*> todo{this};
  while (!todo.empty()) {
    TWinControl* w = todo.back();
    todo.pop_back();
    if (w->FHandle) SendMessageW(w->FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(w->Font()), TRUE);
    w->FontChanged();
    for (TControl* c : w->FControls)
      if (auto* cw = dynamic_cast<TWinControl*>(c))
        if (!cw->FFont) todo.push_back(cw);
  }
}

int TWinControl::CurrentPPI() const { return FParent ? FParent->CurrentPPI() : 96; }

void TWinControl::Update() {
  HWND target = FParent && FParent->HandleAllocated() ? FParent->FHandle : FHandle;
  if (target) RedrawWindow(target, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void TWinControl::Invalidate() {
  if (FHandle) InvalidateRect(FHandle, nullptr, TRUE);
}

void TWinControl::HintChanged() {
  UpdateTool();
  for (TControl* c : FControls)
    if (c->ParentShowHint()) c->HintChanged();
}

void TWinControl::UpdateTool() {
  if (FHandle) SetToolFor(FHandle, FHint, ShowHint());
}

void TWinControl::SetToolFor(HWND Wnd, const std::wstring& AHint, bool Show) {
  TWinControl* top = TopControl(this);
  if (!Wnd) return;
  HWND tip = top->ToolTipHandle();
  if (!tip || !top->HandleAllocated()) return;
  TOOLINFOW ti{};
  // The version-2 size works with every common-controls version.
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = top->Handle();
  ti.uId = reinterpret_cast<UINT_PTR>(Wnd);
  SendMessageW(tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  if (!Show || AHint.empty()) return;
  std::wstring text = AHint;
  ti.lpszText = &text[0];
  SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}
