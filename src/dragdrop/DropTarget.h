// The drop target: a component that makes windows accept OLE drops. It decides while the drag
// passes over the window whether the data is acceptable and which effect to show, fetches the
// data through its data formats at the drop, raises OnDrop and tells the source what it did.
//
// It is a COM object whose reference counting counts nothing: it lives exactly as long as its
// owner keeps it, and the platform's references neither keep it alive nor destroy it.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <vector>

#include "Controls.h"
#include "DragDrop.h"

// A small set over an enumeration whose members are bit numbers.
template <class E, class Bits = uint16_t>
class TSmallSet {
 public:
  constexpr TSmallSet() = default;
  // From the bit representation (bit n is member n).
  explicit constexpr TSmallSet(Bits Value) : FBits(Value) {}
  constexpr TSmallSet(std::initializer_list<E> Members) {
    for (E m : Members) FBits = static_cast<Bits>(FBits | (Bits(1) << m));
  }
  constexpr bool Contains(E Member) const { return (FBits >> Member) & 1; }
  constexpr bool Empty() const { return FBits == 0; }
  void Include(E Member) { FBits = static_cast<Bits>(FBits | (Bits(1) << Member)); }
  constexpr bool operator==(const TSmallSet& Other) const { return FBits == Other.FBits; }
  constexpr bool operator!=(const TSmallSet& Other) const { return FBits != Other.FBits; }

 private:
  Bits FBits = 0;
};

enum TDragType : uint8_t { dtCopy, dtMove, dtLink };
using TDragTypes = TSmallSet<TDragType, uint8_t>;
// The effect mask of a set of drag types.
DWORD DragTypesToDropEffect(TDragTypes Types);

enum TShiftStateMember : uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle };
using TShiftState = TSmallSet<TShiftStateMember, uint16_t>;
// The MK_ key state the platform passes, as a shift state; other bits are ignored.
TShiftState KeysToShiftState(DWORD KeyState);

enum TScrollBar : uint8_t { sbHorizontal, sbVertical };
using TScrollBars = TSmallSet<TScrollBar, uint8_t>;

using TPoint = POINT;
// Effect is the 32-bit drop effect as a signed value (DROPEFFECT_SCROLL makes it negative).
using TDropTargetEvent = std::function<void(TObject* Sender, TShiftState ShiftState, TPoint APoint, int32_t& Effect)>;
using TAcceptFormatEvent = std::function<void(TObject* Sender, TCustomDataFormat* DataFormat, bool& Accept)>;

// An OLE call that failed where failure is a programming or set-up error.
class EOleError : public std::runtime_error {
 public:
  EOleError(const char* What, HRESULT Result);
  HRESULT Result() const { return FResult; }

 private:
  HRESULT FResult;
};

// A COM pointer that holds one reference.
template <class T>
class TComRef {
 public:
  TComRef() = default;
  ~TComRef() { Release(); }
  TComRef(const TComRef&) = delete;
  TComRef& operator=(const TComRef&) = delete;
  void Assign(T* Value) {
    if (Value) Value->AddRef();
    Release();
    FPtr = Value;
  }
  void Release() {
    if (FPtr) {
      T* p = FPtr;
      FPtr = nullptr;
      p->Release();
    }
  }
  T** Receive() {
    Release();
    return &FPtr;
  }
  T* Get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }

 private:
  T* FPtr = nullptr;
};

// The windows a drop target is registered on.
class TControlList {
 public:
  int IndexOf(const TWinControl* Control) const;
  TWinControl* GetControl(int Index) const { return FList.at(static_cast<size_t>(Index)); }
  void Add(TWinControl* Control) { FList.push_back(Control); }
  void Insert(int Index, TWinControl* Control) { FList.insert(FList.begin() + Index, Control); }
  void Remove(TWinControl* Control);
  int Count() const { return static_cast<int>(FList.size()); }

 private:
  std::vector<TWinControl*> FList;
};

class TCustomDropTarget;

// The invisible child window through which a window is registered: its window registers the
// parent's handle as soon as it exists and revokes it before it goes, so the registration
// follows the parent's handle. Owned by the drop target.
class TWinControlProxy : public TWinControl {
 public:
  explicit TWinControlProxy(TCustomDropTarget* AOwner);

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void Revoke();
  HWND FRegistered = nullptr;  // the parent handle registered through this window
};

class TCustomDropTarget : public TDragDropComponent, public IDropTarget {
 public:
  explicit TCustomDropTarget(TComponent* AOwner);
  ~TCustomDropTarget() override;

  // IUnknown, counting nothing.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IDropTarget. No exception leaves these.
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* DataObject, DWORD KeyState, POINTL Point, DWORD* Effect) override;
  HRESULT STDMETHODCALLTYPE DragOver(DWORD KeyState, POINTL Point, DWORD* Effect) override;
  HRESULT STDMETHODCALLTYPE DragLeave() override;
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* DataObject, DWORD KeyState, POINTL Point, DWORD* Effect) override;

  // Makes ATarget a drop area (through a proxy child window).
  void Register(TWinControl* ATarget);
  // Null: every registered window, the last-listed first.
  void Unregister(TWinControl* ATarget = nullptr);

  void GetCompatibleClipboardFormats(TDataFormatClass DataFormatClass, TClipboardFormats& ClipboardFormats) override;

  TDragTypes DragTypes() const { return FDragTypes; }
  void SetDragTypes(TDragTypes Value) { FDragTypes = Value; }
  bool MultiTarget() const { return FMultiTarget; }
  void SetMultiTarget(bool Value) { FMultiTarget = Value; }
  bool OptimizedMove() const { return FOptimizedMove; }
  void SetOptimizedMove(bool Value) { FOptimizedMove = Value; }
  bool ShowImage() const { return FShowImage; }
  void SetShowImage(bool Value);
  bool AutoScroll() const { return FAutoScroll; }
  void SetAutoScroll(bool Value) { FAutoScroll = Value; }
  bool AutoRegister() const { return FAutoRegister; }
  void SetAutoRegister(bool Value) { FAutoRegister = Value; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value) { FEnabled = Value; }

  TWinControl* Target() const { return FTarget; }
  const TControlList& Targets() const { return FTargets; }
  IDataObject* DataObject() const { return FDataObject.Get(); }
  IDropTargetHelper* DropTargetHelper() const { return FDropTargetHelper.Get(); }

  TDropTargetEvent OnEnter;
  TDropTargetEvent OnDragOver;
  TNotifyEvent OnLeave;
  TDropTargetEvent OnDrop;
  void SetOnEnter(TDropTargetEvent Value) { OnEnter = std::move(Value); }
  void SetOnDragOver(TDropTargetEvent Value) { OnDragOver = std::move(Value); }
  void SetOnLeave(TNotifyEvent Value) { OnLeave = std::move(Value); }
  void SetOnDrop(TDropTargetEvent Value) { OnDrop = std::move(Value); }

  // The effect for the keys held and the effects the source allows.
  virtual DWORD GetValidDropEffect(TShiftState ShiftState, TPoint APoint, DWORD Effect);

 protected:
  void* GetInterface(REFIID riid) override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  virtual void DoEnter(TShiftState ShiftState, TPoint APoint, DWORD& Effect);
  virtual void DoDragOver(TShiftState ShiftState, TPoint APoint, DWORD& Effect);
  virtual void DoDrop(TShiftState ShiftState, TPoint APoint, DWORD& Effect);
  virtual void DoLeave();
  virtual bool FetchData(DWORD Effect);
  virtual bool DoFetchData() = 0;
  virtual void ClearData() = 0;
  // Writes "Performed DropEffect" into the source's data object; true when it took it.
  virtual bool SetPerformedDropEffect(DWORD Effect);
  virtual TWinControl* FindTarget(POINTL Point);
  virtual bool HasValidFormats(IDataObject* ADataObject) = 0;
  virtual void ResetScrollZone();
  // The shell's drag-image object; a failure means there is none.
  virtual HRESULT CreateDropTargetHelper(IDropTargetHelper** Helper);

 private:
  TPoint ClientPoint(POINTL Point) const;
  void StartDragImage(IDataObject* DataObject, POINTL Point, DWORD Effect);
  TPoint WindowRelative(TPoint Client) const;
  void Raise(const TDropTargetEvent& Event, TShiftState ShiftState, TPoint APoint, DWORD& Effect);

  TComRef<IDataObject> FDataObject;
  TDragTypes FDragTypes;
  TControlList FTargets;
  bool FMultiTarget = false;
  bool FOptimizedMove = false;
  TWinControl* FTarget = nullptr;
  HIMAGELIST FImages = nullptr;
  HIMAGELIST FDragImageHandle = nullptr;
  bool FShowImage = true;
  TPoint FImageHotSpot{0, 0};
  TComRef<IDropTargetHelper> FDropTargetHelper;
  TPoint FLastPoint{0, 0};
  TScrollBars FScrollBars;
  bool FAutoScroll = true;
  RECT FNoScrollZone{0, 0, 0, 0};
  bool FCustomScrollZone = false;
  bool FAutoRegister = true;
  bool FEnabled = true;

  friend class TWinControlProxy;
};

// A target served by several data formats, all of them in DataFormats().
class TCustomDropMultiTarget : public TCustomDropTarget {
 public:
  explicit TCustomDropMultiTarget(TComponent* AOwner);
  ~TCustomDropMultiTarget() override;

  TAcceptFormatEvent OnAcceptFormat;

 protected:
  bool DoFetchData() override;
  void ClearData() override;
  bool HasValidFormats(IDataObject* ADataObject) override;
  virtual void DoAcceptFormat(TCustomDataFormat* DataFormat, bool& Accept);
};
