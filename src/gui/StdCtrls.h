// Standard controls as real "Static" and "Button" windows.
#pragma once
#include <windows.h>

#include <string>

#include "Controls.h"

// A Static that sizes itself to its text; a line feed starts a new line. Its tool tip follows
// the form's ShowHint until SetShowHint gives it a setting of its own.
class TLabel : public TWinControl {
 public:
  explicit TLabel(TComponent* AOwner);

  void SetCaption(const std::wstring& Value) override;

  // Width and height the text needs in the label's font (at least 1 x line height).
  SIZE TextExtent() const;

 protected:
  void Loaded() override;
  void CreateParams(TCreateParams& Params) override;
  void FontChanged() override;
  void AdjustBounds();
};

// A push button; OnClick when pressed.
class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* AOwner);
  TNotifyEvent OnClick;
  // Presses the button as a click would.
  virtual void Click();

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CNCommand(WORD NotifyCode) override;
};

// An automatic check box. Setting Checked to a new value runs OnClick, as a user's click
// does; a click handler that must not hear a restore is cleared around it by the caller.
class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TComponent* AOwner);
  ~TCheckBox() override;

  bool Checked() const;
  virtual void SetChecked(bool Value);
  TNotifyEvent OnClick;

 protected:
  virtual void Click();
  void CreateParams(TCreateParams& Params) override;
  void CreatedWnd() override;
  void DestroyWnd() override;
  void CNCommand(WORD NotifyCode) override;

 private:
  bool FChecked = false;
};
