// Forms: top-level windows, the application object and the screen (cursor, DPI).
#pragma once
#include <windows.h>

#include <exception>
#include <functional>
#include <string>

#include "Classes.h"
#include "Controls.h"

enum TFormBorderStyle { bsSizeable, bsDialog };
enum TPosition { poDesigned, poDefaultPosOnly };
enum TWindowState { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

// value at 96 dpi -> value at Dpi (rounded like MulDiv).
int ScaleForDpi(int Value, int Dpi);
// DPI of the monitor that shows Wnd, or the system DPI where the system cannot tell.
int DpiForWindow(HWND Wnd);
int SystemDpi();

// R itself when some monitor's work area shows part of it; otherwise R with its size kept,
// moved inside the nearest monitor's work area (to its top-left when it is larger).
RECT RectOnAWorkArea(const RECT& R);

// A top-level window. A subclass builds its controls in its constructor between
// BeginLoading() and EndLoading(), at 96 dpi; Loaded scales them to the screen's DPI. Forms
// are made with CreateForm (or Application->CreateForm), which runs OnCreate once the
// constructor is done.
class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* AOwner);
  ~TForm() override;

  void SetBorderStyle(TFormBorderStyle Value) { FBorderStyle = Value; }
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetPosition(TPosition Value) { FPosition = Value; }
  TPosition Position() const { return FPosition; }

  // Outer bounds on the screen; read from the window once it exists. A minimised window
  // answers the placement it is restored to.
  int Left() const override;
  int Top() const override;
  int Width() const override;
  int Height() const override;
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

  int ClientWidth() const;
  int ClientHeight() const;
  void SetClientWidth(int Value);
  void SetClientHeight(int Value);

  TWindowState WindowState() const;
  void SetWindowState(TWindowState Value);

  // The designed font (at 96 dpi) and the switch to the desktop's icon-title font.
  void SetDesignedFont(const std::wstring& FaceName, int Height);
  bool DesktopFont() const { return FDesktopFont; }
  void SetDesktopFont(bool Value);

  // DPI the layout was designed for (96) and the one it is laid out for now.
  int PixelsPerInch() const { return FPixelsPerInch; }
  int CurrentPPI() const override { return FCurrentPPI; }
  // Rescales bounds and font of the form and its controls from the current DPI to NewPPI.
  void ScaleForPPI(int NewPPI);

  void Show();
  // Closes the form; closing the main form ends the message loop.
  void Close();

  // The form's tool-tip control (created with the window).
  HWND ToolTipHandle() const override { return FToolTip; }

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnDestroy;

  // Runs OnCreate; called once the most derived constructor is done.
  virtual void AfterConstruction();
  void BeforeDestruction() override;

 protected:
  void Loaded() override;
  void CreateParams(TCreateParams& Params) override;
  void CreatedWnd() override;
  void DestroyWnd() override;
  LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override;
  virtual void DoShow();

 private:
  void ApplyFont();
  void ApplyClientSize();
  // The window's outer rectangle and client size, those of its normal placement while it
  // is minimised. Only with a window.
  RECT OuterRect() const;
  SIZE ClientSize() const;
  // A window placement gives a normal window's rectangle in workspace coordinates, which
  // leave out a task bar on the left or top; remembered while the window is normal, when
  // both rectangles can be read, so that a minimised window's placement converts too.
  void MeasureWorkspaceOffset();

  TFormBorderStyle FBorderStyle = bsSizeable;
  TPosition FPosition = poDesigned;
  TWindowState FWindowState = wsNormal;
  int FClientWidth = 0, FClientHeight = 0;
  int FPixelsPerInch = 96;
  int FCurrentPPI = 96;
  bool FDesktopFont = false;
  std::wstring FFontName = L"Tahoma";
  int FFontHeight = -11;  // at 96 dpi
  HFONT FOwnFont = nullptr;
  HWND FToolTip = nullptr;
  int FLastClientW = 0, FLastClientH = 0;
  POINT FWorkspaceOffset{0, 0};  // screen minus workspace coordinates
  bool FScaling = false;
  bool FCreated = false;
};

// Makes a form and runs its OnCreate.
template <class T>
T* CreateForm(TComponent* AOwner) {
  T* f = new T(AOwner);
  f->AfterConstruction();
  return f;
}

using TCursor = int;
enum : int { crDefault = 0, crArrow = -2, crHourGlass = -11 };

// The screen: the application-wide cursor and the system DPI.
class TScreen : public TComponent {
 public:
  explicit TScreen(TComponent* AOwner) : TComponent(AOwner) {}
  TCursor Cursor() const { return FCursor; }
  // Not crDefault: every framework window shows this cursor; shown at once.
  void SetCursor(TCursor Value);
  // The cursor a framework window shows now, or null for its own.
  HCURSOR CursorHandle() const;
  int PixelsPerInch() const { return SystemDpi(); }

 private:
  TCursor FCursor = crDefault;
};

// The modal message dialog, captioned with the application's title. Its owner is the active
// window of this thread (else the main form), which stays disabled while it is up. Returns
// when the user dismisses it.
void ShowMessage(const std::wstring& Msg);

// The application: title, main form, message loop.
class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  void Initialize();
  const std::wstring& Title() const { return FTitle; }
  void SetTitle(const std::wstring& Value) { FTitle = Value; }
  bool MainFormOnTaskBar() const { return FMainFormOnTaskBar; }
  void SetMainFormOnTaskBar(bool Value) { FMainFormOnTaskBar = Value; }

  // Makes a form owned by the application; the first one becomes the main form.
  template <class T>
  void CreateForm(T*& Reference) {
    Reference = ::CreateForm<T>(this);
    if (!FMainForm) FMainForm = Reference;
  }
  TForm* MainForm() const { return FMainForm; }

  // Shows the main form and serves messages until Terminate.
  void Run();
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // True while Run waits for the next message: a message sent to a window now is handled
  // with nothing but the loop below it.
  bool Idle() const { return FIdle; }
  // Reports an error caught at a window procedure or callback boundary: OnException when
  // set, else a message box with the error's text.
  void HandleException(const std::exception* E);
  std::function<void(const std::exception* E)> OnException;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  std::wstring FTitle;
  bool FMainFormOnTaskBar = false;
  TForm* FMainForm = nullptr;
  bool FTerminated = false;
  bool FIdle = false;
};

extern TApplication* Application;
extern TScreen* Screen;

// Creates Application and Screen (once) and frees them, for the program entry and tests.
void GuiInitialize();
void GuiFinalize();
