#include "ExtCtrls.h"

#include <algorithm>
#include <map>
#include <set>

#include "ExceptionBoundary.h"
#include "Forms.h"

// ------------------------------------------------------------------------------------------ TTimer

namespace {
// Timers tick through one hidden message-only window. Every start takes a fresh id, so a tick
// already queued for a stopped run (or for a timer since freed) finds no timer and is dropped.
std::map<UINT_PTR, TTimer*>& RunningTimers() {
  static std::map<UINT_PTR, TTimer*> running;
  return running;
}
UINT_PTR gNextTimerId = 1;
}  // namespace

static HWND TimerWindow(WNDPROC proc) {
  static HWND wnd = nullptr;
  if (wnd && IsWindow(wnd)) return wnd;
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = inst;
  wc.lpszClassName = L"TTimerWindow";
  RegisterClassExW(&wc);
  wnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, inst, nullptr);
  return wnd;
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {}

TTimer::~TTimer() { StopTimer(); }

void TTimer::StopTimer() {
  if (!FRunning) return;
  KillTimer(TimerWindow(TimerWndProc), FTimerId);
  RunningTimers().erase(FTimerId);
  FRunning = false;
}

void TTimer::SetEnabled(bool Value) {
  // Enabling a running timer must not restart its interval.
  if (Value == FEnabled) return;
  FEnabled = Value;
  UpdateTimer();
}

void TTimer::SetInterval(unsigned Value) {
  if (Value == FInterval) return;
  FInterval = Value;
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent Value) {
  bool wasSet = static_cast<bool>(FOnTimer);
  FOnTimer = std::move(Value);
  if (wasSet != static_cast<bool>(FOnTimer)) UpdateTimer();
}

void TTimer::UpdateTimer() {
  StopTimer();
  HWND wnd = TimerWindow(TimerWndProc);
  if (!FEnabled || FInterval == 0 || !FOnTimer || DesignMode() || !wnd) return;
  FTimerId = gNextTimerId++;
  if (!SetTimer(wnd, FTimerId, FInterval, nullptr)) return;
  RunningTimers()[FTimerId] = this;
  FRunning = true;
}

void TTimer::Timer() {
  // A copy: the handler may replace itself.
  TNotifyEvent handler = FOnTimer;
  if (handler) handler(this);
}

LRESULT CALLBACK TTimer::TimerWndProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Msg != WM_TIMER) return DefWindowProcW(Wnd, Msg, wParam, lParam);
  auto it = RunningTimers().find(wParam);
  if (it == RunningTimers().end()) {
    KillTimer(Wnd, wParam);  // a stray from a run already stopped
    return 0;
  }
  TTimer* t = it->second;
  GuardBoundary([t] { t->Timer(); });
  return 0;
}

// ------------------------------------------------------------------------------ TCustomRadioGroup

TCustomRadioGroup::TCustomRadioGroup(TComponent* AOwner) : TWinControl(AOwner) {
  FWidth = 185;
  FHeight = 105;
  FTabOrder = 1000;
}

TCustomRadioGroup::~TCustomRadioGroup() { DestroyHandle(); }

void TCustomRadioGroup::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.WinClassName = L"Button";
  Params.OwnClass = false;
  // The frame takes no focus itself; its buttons do. CONTROLPARENT lets Tab reach them.
  Params.Style = (Params.Style & ~static_cast<DWORD>(WS_TABSTOP)) | BS_GROUPBOX;
  Params.ExStyle |= WS_EX_CONTROLPARENT;
}

void TCustomRadioGroup::CreatedWnd() { CreateButtons(); }

void TCustomRadioGroup::CreateButtons() {
  FButtons.clear();
  if (!FHandle) return;
  HINSTANCE inst = GetModuleHandleW(nullptr);
  HFONT f = Font();
  for (size_t i = 0; i < FItems.size(); ++i) {
    DWORD style = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0);
    HWND b = CreateWindowExW(0, L"Button", FItems[i].c_str(), style, 0, 0, 0, 0, FHandle,
                             reinterpret_cast<HMENU>(static_cast<UINT_PTR>(i + 1)), inst, nullptr);
    if (!b) continue;
    if (f) SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
    if (static_cast<int>(i) == FItemIndex) SendMessageW(b, BM_SETCHECK, BST_CHECKED, 0);
    FButtons.push_back(b);
  }
  ArrangeButtons();
  HintChanged();
}

void TCustomRadioGroup::ArrangeButtons() {
  if (!FHandle || FButtons.empty()) return;
  int ppi = CurrentPPI();
  int textHeight = ScaleForDpi(13, ppi);
  if (HFONT f = Font()) {
    HDC dc = GetDC(FHandle);
    HGDIOBJ old = SelectObject(dc, f);
    TEXTMETRICW tm{};
    if (GetTextMetricsW(dc, &tm)) textHeight = tm.tmHeight;
    SelectObject(dc, old);
    ReleaseDC(FHandle, dc);
  }
  int count = static_cast<int>(FButtons.size());
  int cols = std::max(1, std::min(FColumns, count));
  int rows = (count + cols - 1) / cols;
  // Below the caption, inside the frame; buttons fill the columns top to bottom.
  int margin = ScaleForDpi(8, ppi);
  int top = textHeight + ScaleForDpi(1, ppi);
  int usable = std::max(0, FHeight - top - ScaleForDpi(4, ppi));
  int bh = rows ? usable / rows : 0;
  top += (usable - bh * rows) / 2;
  int bw = std::max(0, (FWidth - 2 * margin) / cols);
  for (int i = 0; i < count; ++i) {
    int col = i / rows, row = i % rows;
    SetWindowPos(FButtons[static_cast<size_t>(i)], nullptr, margin + col * bw, top + row * bh, bw, bh,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void TCustomRadioGroup::DestroyWnd() {
  if (FHandle && !FButtons.empty()) {
    // The buttons know what is ticked, whoever ticked them.
    int checked = -1;
    for (size_t i = 0; i < FButtons.size(); ++i)
      if (SendMessageW(FButtons[i], BM_GETCHECK, 0, 0) == BST_CHECKED) checked = static_cast<int>(i);
    FItemIndex = checked;
    for (HWND b : FButtons) SetToolFor(b, std::wstring(), false);
  }
  FButtons.clear();  // they go with the group's window
  TWinControl::DestroyWnd();
}

void TCustomRadioGroup::SetItems(const std::vector<std::wstring>& Value) {
  FItems = Value;
  if (!FHandle) return;
  for (HWND b : FButtons) {
    SetToolFor(b, std::wstring(), false);
    DestroyWindow(b);
  }
  CreateButtons();
}

void TCustomRadioGroup::SetColumns(int Value) {
  FColumns = std::max(1, std::min(Value, 16));
  ArrangeButtons();
}

int TCustomRadioGroup::ItemIndex() const { return FItemIndex; }

void TCustomRadioGroup::SetItemIndex(int Value) {
  if (Loading()) {
    FItemIndex = Value;
    return;
  }
  // A stored selection is applied to the real buttons; making them makes the form's window.
  if (FParent) HandleNeeded();
  int count = static_cast<int>(FItems.size());
  if (Value < -1) Value = -1;
  if (Value >= count) Value = count - 1;
  if (Value == FItemIndex) return;
  int old = FItemIndex;
  FItemIndex = Value;
  if (old >= 0 && old < static_cast<int>(FButtons.size()))
    SendMessageW(FButtons[static_cast<size_t>(old)], BM_SETCHECK, BST_UNCHECKED, 0);
  if (Value >= 0 && Value < static_cast<int>(FButtons.size()))
    SendMessageW(FButtons[static_cast<size_t>(Value)], BM_SETCHECK, BST_CHECKED, 0);
  Click();
}

void TCustomRadioGroup::Click() {
  if (OnClick) OnClick(this);
}

void TCustomRadioGroup::ButtonClicked(HWND Button) {
  auto it = std::find(FButtons.begin(), FButtons.end(), Button);
  if (it == FButtons.end()) return;
  int index = static_cast<int>(it - FButtons.begin());
  if (SendMessageW(Button, BM_GETCHECK, 0, 0) != BST_CHECKED || index == FItemIndex) return;
  FItemIndex = index;
  Click();
}

void TCustomRadioGroup::BoundsChanged() {
  TWinControl::BoundsChanged();
  ArrangeButtons();
}

void TCustomRadioGroup::FontChanged() {
  for (HWND b : FButtons) SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), TRUE);
  ArrangeButtons();
}

void TCustomRadioGroup::HintChanged() {
  TWinControl::HintChanged();
  // The frame lets the mouse through to its buttons, so they carry the group's tip.
  for (HWND b : FButtons) SetToolFor(b, Hint(), ShowHint());
}

LRESULT TCustomRadioGroup::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && lParam) {
    ButtonClicked(reinterpret_cast<HWND>(lParam));
    return 0;
  }
  if (Msg == WM_ERASEBKGND) {
    // A group box paints only its frame and caption, and the form clips its children, so
    // nobody else paints the inside.
    RECT r{};
    GetClientRect(FHandle, &r);
    FillRect(reinterpret_cast<HDC>(wParam), &r, GetSysColorBrush(COLOR_BTNFACE));
    return 1;
  }
  return TWinControl::WndProc(Msg, wParam, lParam);
}
