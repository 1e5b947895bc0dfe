// Controls: controls with a place on a parent, and windowed controls that own an HWND.
// Every control here is a real window, so that screen readers, UI automation and tests can
// read its text and state.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "Classes.h"

class TWinControl;

// The cursor every framework window shows in place of its own while one is set (the
// application-wide busy cursor), or null.
void SetOverrideCursor(HCURSOR Cursor);
HCURSOR OverrideCursor();

// Anchors: the edges a control keeps its distance to when its parent's client area resizes.
enum : unsigned {
  akLeft = 1u << 0,
  akTop = 1u << 1,
  akRight = 1u << 2,
  akBottom = 1u << 3,
};
using TAnchors = unsigned;

// What CreateWnd passes to CreateWindowExW. A control with a class of its own (OwnClass)
// gets it registered once, with the framework's window procedure; a standard class
// ("Static", "Button") is created as it is and subclassed after creation.
struct TCreateParams {
  std::wstring WinClassName;
  bool OwnClass = true;
  UINT ClassStyle = CS_HREDRAW | CS_VREDRAW;
  HBRUSH Background = nullptr;  // default: the face colour
  HCURSOR Cursor = nullptr;     // default: the arrow
  std::wstring Caption;
  DWORD Style = 0;
  DWORD ExStyle = 0;
  int X = 0, Y = 0, Width = 0, Height = 0;
  HWND WndParent = nullptr;
  HMENU Menu = nullptr;  // for a child: its control id
};

// A control: position and size in its parent's client coordinates (pixels), text, tool tip.
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* AParent);

  virtual int Left() const { return FLeft; }
  virtual int Top() const { return FTop; }
  virtual int Width() const { return FWidth; }
  virtual int Height() const { return FHeight; }
  void SetLeft(int Value) { SetBounds(Value, Top(), Width(), Height()); }
  void SetTop(int Value) { SetBounds(Left(), Value, Width(), Height()); }
  void SetWidth(int Value) { SetBounds(Left(), Top(), Value, Height()); }
  void SetHeight(int Value) { SetBounds(Left(), Top(), Width(), Value); }
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

  TAnchors Anchors() const { return FAnchors; }
  void SetAnchors(TAnchors Value) { FAnchors = Value; }

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool Value);

  // Caption and Text are one string (the window text).
  virtual std::wstring Caption() const;
  virtual void SetCaption(const std::wstring& Value);
  std::wstring Text() const { return Caption(); }
  void SetText(const std::wstring& Value) { SetCaption(Value); }

  // Tool tip. ShowHint follows the parent's until set on the control itself.
  const std::wstring& Hint() const { return FHint; }
  void SetHint(const std::wstring& Value);
  bool ShowHint() const;
  void SetShowHint(bool Value);
  bool ParentShowHint() const { return FParentShowHint; }
  void SetParentShowHint(bool Value);

  // Paints the parent's invalid areas, children included, before returning, without
  // serving any other message.
  virtual void Update();
  virtual void Invalidate();

 protected:
  // The bounds or the tool tip changed; windowed controls pass it on to their window.
  virtual void BoundsChanged() {}
  virtual void HintChanged();

  TWinControl* FParent = nullptr;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  TAnchors FAnchors = akLeft | akTop;
  bool FVisible = true;
  std::wstring FCaption;
  std::wstring FHint;
  bool FShowHint = false;
  bool FParentShowHint = true;

  friend class TWinControl;
};

// A control with a window of its own. The handle is created on demand (Handle(),
// HandleNeeded()), the parent's first; creating a window creates its child controls' windows
// after it; destroying one destroys the children's first. Subclasses shape the window by
// overriding CreateParams, CreateWnd and DestroyWnd.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  HWND Handle();  // creates the window when there is none yet
  bool HandleAllocated() const { return FHandle != nullptr; }
  void HandleNeeded();
  // Destroys the window (children's first) through DestroyWnd; the object stays.
  void DestroyHandle();

  void SetParent(TWinControl* AParent) override;
  // The child controls, in the order they were given this parent.
  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int Index) const;  // throws std::out_of_range

  // Creation order of the child windows among siblings (tab order). -1: not a tab stop,
  // created before the tab stops.
  int TabOrder() const { return FTabOrder; }
  void SetTabOrder(int Value) { FTabOrder = Value; }

  std::wstring Caption() const override;
  void SetCaption(const std::wstring& Value) override;
  void SetVisible(bool Value) override;
  void Update() override;
  void Invalidate() override;

  // The font the window uses: the parent's unless set here. Not owned.
  HFONT Font() const;
  void SetFont(HFONT AFont);

  // The control that owns the window, or null for a window the framework did not make.
  static TWinControl* FindControl(HWND Wnd);

  // The screen DPI this control's window is laid out for.
  virtual int CurrentPPI() const;
  // The tool-tip control of a top-level window (a form has one), which shows the tips of
  // every control inside it; null here.
  virtual HWND ToolTipHandle() const { return nullptr; }

  // Destroys the window first (through DestroyWnd, while the whole object is still there).
  void BeforeDestruction() override;

 protected:
  virtual void CreateParams(TCreateParams& Params);
  // Creates the window from CreateParams and subclasses a standard-class window.
  virtual void CreateWnd();
  // Destroys the window. Overrides save any state they keep in the window first.
  virtual void DestroyWnd();
  // The window procedure of every framework window; the default passes the message on to
  // the class's procedure. Runs under the framework's exception guard.
  virtual LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultHandler(UINT Msg, WPARAM wParam, LPARAM lParam);
  // WM_COMMAND of this child, reflected here by its parent.
  virtual void CNCommand(WORD NotifyCode) { (void)NotifyCode; }
  // The window was created (children's windows not yet).
  virtual void CreatedWnd() {}
  // The font in effect changed (this control's or an ancestor's).
  virtual void FontChanged() {}
  // Child management, called by TControl::SetParent.
  virtual void InsertControl(TControl* AControl);
  virtual void RemoveControl(TControl* AControl);
  // The client area changed size by (dx, dy): anchored children follow.
  void AlignControls(int dx, int dy);
  void BoundsChanged() override;
  void HintChanged() override;
  void UpdateTool();
  // Ask the tool-tip control of the top-level window to show (or drop) AHint for Wnd.
  void SetToolFor(HWND Wnd, const std::wstring& AHint, bool Show);

  HWND FHandle = nullptr;
  WNDPROC FDefWndProc = nullptr;
  std::vector<TControl*> FControls;
  int FTabOrder = -1;
  HFONT FFont = nullptr;

 private:
  void CreateHandle();
  static LRESULT CALLBACK StaticWndProc(HWND, UINT, WPARAM, LPARAM);
  static void Attach(HWND Wnd, TWinControl* Control);
  friend class TControl;
};
