#include "StdCtrls.h"

// ------------------------------------------------------------------------------------------ TLabel

TLabel::TLabel(TComponent* AOwner) : TWinControl(AOwner) {
  FWidth = 65;
  FHeight = 17;
}

void TLabel::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.WinClassName = L"Static";
  Params.OwnClass = false;
  // SS_NOTIFY: the label gets the mouse, so its tool tip can show. SS_NOPREFIX: a path with
  // an ampersand is shown as it is.
  Params.Style |= SS_LEFT | SS_NOTIFY | SS_NOPREFIX;
  Params.Style &= ~static_cast<DWORD>(WS_TABSTOP);
}

void TLabel::SetCaption(const std::wstring& Value) {
  TWinControl::SetCaption(Value);
  AdjustBounds();
}

void TLabel::Loaded() {
  TWinControl::Loaded();
  AdjustBounds();
}

void TLabel::FontChanged() { AdjustBounds(); }

SIZE TLabel::TextExtent() const {
  HDC dc = GetDC(nullptr);
  HFONT f = Font();
  HGDIOBJ old = SelectObject(dc, f ? static_cast<HGDIOBJ>(f) : GetStockObject(DEFAULT_GUI_FONT));
  std::wstring text = Caption();
  RECT r{0, 0, 0, 0};
  // No text measures as one empty line, so that the label keeps its line's height.
  DrawTextW(dc, text.empty() ? L" " : text.c_str(), -1, &r, DT_CALCRECT | DT_LEFT | DT_NOPREFIX | DT_EXPANDTABS);
  if (text.empty()) r.right = 0;
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void TLabel::AdjustBounds() {
  if (Loading() || Destroying()) return;
  SIZE s = TextExtent();
  SetBounds(FLeft, FTop, s.cx, s.cy);
}

// ----------------------------------------------------------------------------------------- TButton

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {
  FWidth = 75;
  FHeight = 25;
  FTabOrder = 1000;
}

void TButton::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.WinClassName = L"Button";
  Params.OwnClass = false;
  Params.Style |= BS_PUSHBUTTON;
}

void TButton::Click() {
  if (OnClick) OnClick(this);
}

void TButton::CNCommand(WORD NotifyCode) {
  if (NotifyCode == BN_CLICKED) Click();
}

// --------------------------------------------------------------------------------------- TCheckBox

TCheckBox::TCheckBox(TComponent* AOwner) : TWinControl(AOwner) {
  FWidth = 97;
  FHeight = 17;
  FTabOrder = 1000;
}

TCheckBox::~TCheckBox() { DestroyHandle(); }

void TCheckBox::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.WinClassName = L"Button";
  Params.OwnClass = false;
  Params.Style |= BS_AUTOCHECKBOX;
}

void TCheckBox::CreatedWnd() { SendMessageW(FHandle, BM_SETCHECK, FChecked ? BST_CHECKED : BST_UNCHECKED, 0); }

void TCheckBox::DestroyWnd() {
  // The window may have been ticked without a notification reaching us; it has the truth.
  if (FHandle) FChecked = SendMessageW(FHandle, BM_GETCHECK, 0, 0) == BST_CHECKED;
  TWinControl::DestroyWnd();
}

bool TCheckBox::Checked() const {
  if (FHandle) return SendMessageW(FHandle, BM_GETCHECK, 0, 0) == BST_CHECKED;
  return FChecked;
}

void TCheckBox::SetChecked(bool Value) {
  if (Value == Checked()) return;
  FChecked = Value;
  if (FHandle) SendMessageW(FHandle, BM_SETCHECK, Value ? BST_CHECKED : BST_UNCHECKED, 0);
  if (!Loading()) Click();
}

void TCheckBox::Click() {
  if (OnClick) OnClick(this);
}

void TCheckBox::CNCommand(WORD NotifyCode) {
  if (NotifyCode != BN_CLICKED) return;
  FChecked = SendMessageW(FHandle, BM_GETCHECK, 0, 0) == BST_CHECKED;
  Click();
}
