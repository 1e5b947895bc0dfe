// Timers and the radio group.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "Classes.h"
#include "Controls.h"

// A timer ticking every Interval ms while Enabled, an OnTimer handler is set and Interval is
// above 0. One-shot use: the handler disables it. Enabling an enabled timer changes nothing
// (its interval is not restarted); a new Interval while running restarts it.
class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  unsigned Interval() const { return FInterval; }
  void SetInterval(unsigned Value);
  const TNotifyEvent& OnTimer() const { return FOnTimer; }
  void SetOnTimer(TNotifyEvent Value);

  // True while the system timer runs.
  bool Running() const { return FRunning; }

 protected:
  virtual void Timer();

 private:
  void UpdateTimer();
  void StopTimer();
  static LRESULT CALLBACK TimerWndProc(HWND, UINT, WPARAM, LPARAM);

  UINT_PTR FTimerId = 0;
  bool FEnabled = true;
  unsigned FInterval = 1000;
  TNotifyEvent FOnTimer;
  bool FRunning = false;
};

// A group box ("Button", BS_GROUPBOX) holding one automatic radio button per item, laid out
// in Columns columns, filled column by column.
class TCustomRadioGroup : public TWinControl {
 public:
  explicit TCustomRadioGroup(TComponent* AOwner);
  ~TCustomRadioGroup() override;

  const std::vector<std::wstring>& Items() const { return FItems; }
  void SetItems(const std::vector<std::wstring>& Value);
  int Columns() const { return FColumns; }
  void SetColumns(int Value);

  // Selected item, -1 for none.
  int ItemIndex() const;
  // While the layout is being read the value is only stored. Otherwise the group's window
  // (and its form's) is created when missing, the value is clamped to -1 .. count-1, and a
  // change unselects the old button, selects the new one and runs OnClick.
  virtual void SetItemIndex(int Value);

  TNotifyEvent OnClick;

  // The radio button windows (empty until the group's window exists).
  const std::vector<HWND>& Buttons() const { return FButtons; }

 protected:
  virtual void Click();
  void CreateParams(TCreateParams& Params) override;
  void CreatedWnd() override;
  void DestroyWnd() override;
  void BoundsChanged() override;
  void HintChanged() override;
  void FontChanged() override;
  LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void CreateButtons();
  void ArrangeButtons();
  void ButtonClicked(HWND Button);

  std::vector<std::wstring> FItems;
  int FColumns = 1;
  int FItemIndex = -1;
  std::vector<HWND> FButtons;
};

class TRadioGroup : public TCustomRadioGroup {
 public:
  explicit TRadioGroup(TComponent* AOwner) : TCustomRadioGroup(AOwner) {}
};
