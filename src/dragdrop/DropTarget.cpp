#include "DropTarget.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr DWORD kScrollEffect = DROPEFFECT_SCROLL;

// The shell's format through which a target tells the source what it did with the data.
CLIPFORMAT PerformedDropEffectFormat() {
  static CLIPFORMAT id = 0;
  return RegisteredClipboardFormat(id, CFSTR_PERFORMEDDROPEFFECT);
}

std::string HResultText(const char* What, HRESULT Result) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "%s failed (0x%08lX)", What, static_cast<unsigned long>(Result));
  return buffer;
}

}  // namespace

EOleError::EOleError(const char* What, HRESULT Result) : std::runtime_error(HResultText(What, Result)), FResult(Result) {}

DWORD DragTypesToDropEffect(TDragTypes Types) {
  DWORD e = DROPEFFECT_NONE;
  if (Types.Contains(dtCopy)) e |= DROPEFFECT_COPY;
  if (Types.Contains(dtMove)) e |= DROPEFFECT_MOVE;
  if (Types.Contains(dtLink)) e |= DROPEFFECT_LINK;
  return e;
}

TShiftState KeysToShiftState(DWORD KeyState) {
  TShiftState s;
  if (KeyState & MK_SHIFT) s.Include(ssShift);
  if (KeyState & MK_CONTROL) s.Include(ssCtrl);
  if (KeyState & MK_LBUTTON) s.Include(ssLeft);
  if (KeyState & MK_RBUTTON) s.Include(ssRight);
  if (KeyState & MK_MBUTTON) s.Include(ssMiddle);
  if (KeyState & MK_ALT) s.Include(ssAlt);
  return s;
}

// ---------------------------------------------------------------------------------------------

int TControlList::IndexOf(const TWinControl* Control) const {
  auto it = std::find(FList.begin(), FList.end(), Control);
  return it == FList.end() ? -1 : static_cast<int>(it - FList.begin());
}

void TControlList::Remove(TWinControl* Control) {
  auto it = std::find(FList.begin(), FList.end(), Control);
  if (it != FList.end()) FList.erase(it);
}

// ---------------------------------------------------------------------------------------------

TWinControlProxy::TWinControlProxy(TCustomDropTarget* AOwner) : TWinControl(AOwner) {}

void TWinControlProxy::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.WinClassName = L"TWinControlProxy";
  Params.ExStyle |= WS_EX_TRANSPARENT;
}

void TWinControlProxy::CreateWnd() {
  TWinControl::CreateWnd();
  auto* target = dynamic_cast<TCustomDropTarget*>(Owner());
  if (target && FParent) {
    HWND parent = FParent->Handle();
    const HRESULT hr = RegisterDragDrop(parent, static_cast<IDropTarget*>(target));
    if (FAILED(hr)) throw EOleError("RegisterDragDrop", hr);
    FRegistered = parent;
  }
  SetVisible(false);
  SetWidth(0);
}

void TWinControlProxy::Revoke() {
  if (FRegistered && IsWindow(FRegistered)) RevokeDragDrop(FRegistered);
  FRegistered = nullptr;
}

void TWinControlProxy::DestroyWnd() {
  Revoke();
  FVisible = true;
  TWinControl::DestroyWnd();
}

LRESULT TWinControlProxy::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) {
  // Destroyed with its parent by the window system rather than through DestroyWnd: the
  // parent's handle still exists while its children get WM_DESTROY.
  if (Msg == WM_DESTROY) Revoke();
  return TWinControl::WndProc(Msg, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------

TCustomDropTarget::TCustomDropTarget(TComponent* AOwner) : TDragDropComponent(AOwner) {
  // A fully transparent cursor image for an image-list drag image: the window colour,
  // masked by that same colour.
  FImages = ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 1, 1);
  if (FImages) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT r{0, 0, 32, 32};
    FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
    SelectObject(dc, old);
    ImageList_AddMasked(FImages, bitmap, GetSysColor(COLOR_WINDOW));
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
  }
}

TCustomDropTarget::~TCustomDropTarget() {
  FDataObject.Release();
  FDropTargetHelper.Release();
  try {
    Unregister(nullptr);
  } catch (...) {
    // Revoking cannot fail in a way that matters while we go.
  }
  if (FImages) ImageList_Destroy(FImages);
}

HRESULT TCustomDropTarget::QueryInterface(REFIID riid, void** ppvObject) { return InterfaceQuery(riid, ppvObject); }
ULONG TCustomDropTarget::AddRef() { return InterfaceAddRef(); }
ULONG TCustomDropTarget::Release() { return InterfaceRelease(); }

void* TCustomDropTarget::GetInterface(REFIID riid) {
  if (riid == IID_IUnknown || riid == IID_IDropTarget) return static_cast<IDropTarget*>(this);
  return nullptr;
}

void TCustomDropTarget::GetCompatibleClipboardFormats(TDataFormatClass DataFormatClass,
                                                      TClipboardFormats& ClipboardFormats) {
  TDataFormatMap::GetClipboardFormats(DataFormatClass, ClipboardFormats, ddtTarget);
}

void TCustomDropTarget::SetShowImage(bool Value) {
  FShowImage = Value;
  if (FDropTargetHelper)
    FDropTargetHelper->Show(Value);
  else if (FDataObject)
    ImageList_DragShowNolock(Value);
}

// ---------------------------------------------------------------------------------------------
// Registration.

void TCustomDropTarget::Register(TWinControl* ATarget) {
  if (ATarget && FTargets.IndexOf(ATarget) >= 0) return;
  if (!FMultiTarget && !Loading()) Unregister(nullptr);
  if (!ATarget) return;

  // Among several windows it goes right after the last one it lies inside.
  int position = FTargets.Count();
  for (int i = FTargets.Count() - 1; i >= 0; --i) {
    bool inside = false;
    for (TControl* c = ATarget->Parent(); c && !inside; c = c->Parent()) inside = c == FTargets.GetControl(i);
    if (inside) {
      position = i + 1;
      break;
    }
  }
  FTargets.Insert(position, ATarget);
  FreeNotification(ATarget);

  if (FAutoRegister) {
    auto* proxy = new TWinControlProxy(this);
    try {
      proxy->SetParent(ATarget);
    } catch (...) {
      FTargets.Remove(ATarget);
      RemoveFreeNotification(ATarget);
      TComponent::Free(proxy);
      throw;
    }
  } else {
    const HRESULT hr = RegisterDragDrop(ATarget->Handle(), static_cast<IDropTarget*>(this));
    if (FAILED(hr)) {
      FTargets.Remove(ATarget);
      throw EOleError("RegisterDragDrop", hr);
    }
  }
}

void TCustomDropTarget::Unregister(TWinControl* ATarget) {
  if (!ATarget) {
    for (int i = FTargets.Count() - 1; i >= 0; --i)
      if (i < FTargets.Count()) Unregister(FTargets.GetControl(i));
    return;
  }
  if (FTargets.IndexOf(ATarget) < 0) return;
  if (ATarget == FTarget) FTarget = nullptr;
  FTargets.Remove(ATarget);
  RemoveFreeNotification(ATarget);

  if (FAutoRegister) {
    for (int i = ATarget->ControlCount() - 1; i >= 0; --i) {
      auto* proxy = dynamic_cast<TWinControlProxy*>(ATarget->Controls(i));
      if (proxy && proxy->Owner() == this) {
        proxy->SetParent(nullptr);  // its window goes, and with it the registration
        TComponent::Free(proxy);
        break;
      }
    }
  } else if (ATarget->HandleAllocated()) {
    RevokeDragDrop(ATarget->Handle());
  }
}

void TCustomDropTarget::Notification(TComponent* AComponent, TOperation Operation) {
  TDragDropComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  for (int i = 0; i < FTargets.Count(); ++i)
    if (static_cast<TComponent*>(FTargets.GetControl(i)) == AComponent) {
      Unregister(FTargets.GetControl(i));
      break;
    }
}

// ---------------------------------------------------------------------------------------------
// The drag.

TWinControl* TCustomDropTarget::FindTarget(POINTL Point) {
  HWND w = WindowFromPoint(POINT{Point.x, Point.y});
  TWinControl* control = nullptr;
  while (w && !(control = TWinControl::FindControl(w))) w = GetParent(w);
  for (TControl* c = control; c; c = c->Parent())
    if (auto* win = dynamic_cast<TWinControl*>(c); win && FTargets.IndexOf(win) >= 0) return win;
  return nullptr;
}

TPoint TCustomDropTarget::ClientPoint(POINTL Point) const {
  POINT p{Point.x, Point.y};
  if (FTarget && FTarget->HandleAllocated()) ScreenToClient(FTarget->Handle(), &p);
  return p;
}

TPoint TCustomDropTarget::WindowRelative(TPoint Client) const {
  if (!FTarget || !FTarget->HandleAllocated()) return Client;
  HWND w = FTarget->Handle();
  POINT p = Client;
  ClientToScreen(w, &p);
  RECT r{};
  GetWindowRect(w, &r);
  return POINT{p.x - r.left, p.y - r.top};
}

DWORD TCustomDropTarget::GetValidDropEffect(TShiftState ShiftState, TPoint APoint, DWORD Effect) {
  const DWORD allowed = Effect & DragTypesToDropEffect(FDragTypes);
  const bool shift = ShiftState.Contains(ssShift);
  const bool ctrl = ShiftState.Contains(ssCtrl);
  const DWORD wanted = shift && ctrl ? DROPEFFECT_LINK : ctrl ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
  DWORD result = DROPEFFECT_NONE;
  if (allowed & wanted)
    result = wanted;
  else if (allowed & DROPEFFECT_COPY)
    result = DROPEFFECT_COPY;
  else if (allowed & DROPEFFECT_MOVE)
    result = DROPEFFECT_MOVE;
  else if (allowed & DROPEFFECT_LINK)
    result = DROPEFFECT_LINK;
  if (FAutoScroll && !FScrollBars.Empty()) {
    if (PtInRect(&FNoScrollZone, APoint))
      result &= ~kScrollEffect;
    else
      result |= kScrollEffect;
  }
  return result;
}

void TCustomDropTarget::ResetScrollZone() {
  FCustomScrollZone = false;
  FScrollBars = TScrollBars();
  if (!FAutoScroll || !FTarget || !FTarget->HandleAllocated()) return;
  const LONG_PTR style = GetWindowLongPtrW(FTarget->Handle(), GWL_STYLE);
  if (style & WS_HSCROLL) FScrollBars.Include(sbHorizontal);
  if (style & WS_VSCROLL) FScrollBars.Include(sbVertical);
  if (FScrollBars.Empty()) return;
  GetClientRect(FTarget->Handle(), &FNoScrollZone);
  if (FScrollBars.Contains(sbVertical)) InflateRect(&FNoScrollZone, 0, -2 * GetSystemMetrics(SM_CYHSCROLL));
  if (FScrollBars.Contains(sbHorizontal)) InflateRect(&FNoScrollZone, -2 * GetSystemMetrics(SM_CXHSCROLL), 0);
}

HRESULT TCustomDropTarget::CreateDropTargetHelper(IDropTargetHelper** Helper) {
  return CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IDropTargetHelper,
                          reinterpret_cast<void**>(Helper));
}

void TCustomDropTarget::StartDragImage(IDataObject* DataObject, POINTL Point, DWORD Effect) {
  FDropTargetHelper.Release();
  FDragImageHandle = nullptr;
  if (SUCCEEDED(CreateDropTargetHelper(FDropTargetHelper.Receive())) && FDropTargetHelper) {
    POINT p{Point.x, Point.y};
    HWND w = FTarget && FTarget->HandleAllocated() ? FTarget->Handle() : nullptr;
    if (FAILED(FDropTargetHelper->DragEnter(w, DataObject, &p, Effect))) FDropTargetHelper.Release();
  }
  if (FDropTargetHelper) return;
  // Without the shell's object: an image-list drag of our own process, if one is running.
  POINT position{};
  FDragImageHandle = ImageList_GetDragImage(&position, &FImageHotSpot);
  if (FDragImageHandle && FTarget && FTarget->HandleAllocated()) {
    ImageList_SetDragCursorImage(FImages, 0, FImageHotSpot.x, FImageHotSpot.y);
    const TPoint at = WindowRelative(FLastPoint);
    ImageList_DragEnter(FTarget->Handle(), at.x, at.y);
  }
}

HRESULT TCustomDropTarget::DragEnter(IDataObject* DataObject, DWORD KeyState, POINTL Point, DWORD* Effect) {
  if (!Effect) return E_INVALIDARG;
  try {
    if (FEnabled) {
      ClearData();
      FDataObject.Assign(DataObject);
    }
    FTarget = FindTarget(Point);
    TPoint client{0, 0};
    if (FTarget) {
      client = ClientPoint(Point);
      FLastPoint = client;
    } else {
      // Not over a registered window: no image and no scrolling, from now on.
      FShowImage = false;
      FAutoScroll = false;
    }

    if (FEnabled && FDataObject && HasValidFormats(FDataObject.Get())) {
      ResetScrollZone();
      const TShiftState shift = KeysToShiftState(KeyState);
      *Effect = GetValidDropEffect(shift, client, *Effect);
      DoEnter(shift, client, *Effect);
      if ((*Effect & ~kScrollEffect) == DROPEFFECT_NONE) FDataObject.Release();
    } else {
      FDataObject.Release();
      *Effect = DROPEFFECT_NONE;
    }

    if (FShowImage)
      StartDragImage(DataObject, Point, *Effect);
    else
      FDragImageHandle = nullptr;
    return S_OK;
  } catch (...) {
    FDataObject.Release();
    *Effect = DROPEFFECT_NONE;
    return E_UNEXPECTED;
  }
}

HRESULT TCustomDropTarget::DragOver(DWORD KeyState, POINTL Point, DWORD* Effect) {
  if (!Effect) return E_INVALIDARG;
  if (!FTarget) {
    *Effect = DROPEFFECT_NONE;
    return E_UNEXPECTED;
  }
  try {
    const TPoint client = ClientPoint(Point);
    const TShiftState shift = KeysToShiftState(KeyState);
    if (!FCustomScrollZone) ResetScrollZone();
    *Effect = GetValidDropEffect(shift, client, *Effect);

    HRESULT result;
    if (FEnabled && FDataObject) {
      DoDragOver(shift, client, *Effect);
      result = S_OK;
    } else {
      result = DV_E_CLIPFORMAT;  // the effect computed above stays in the out-value
    }

    if (FDropTargetHelper) {
      POINT p{Point.x, Point.y};
      const HRESULT hr = FDropTargetHelper->DragOver(&p, *Effect);
      if (FAILED(hr)) throw EOleError("IDropTargetHelper::DragOver", hr);
    } else if (FDragImageHandle && (client.x != FLastPoint.x || client.y != FLastPoint.y)) {
      const TPoint at = WindowRelative(client);
      ImageList_DragMove(at.x, at.y);
    }
    FLastPoint = client;
    return result;
  } catch (...) {
    FDataObject.Release();
    *Effect = DROPEFFECT_NONE;
    return E_UNEXPECTED;
  }
}

HRESULT TCustomDropTarget::DragLeave() {
  try {
    ClearData();
    FDataObject.Release();
    if (FDropTargetHelper)
      FDropTargetHelper->DragLeave();
    else if (FDragImageHandle && FTarget && FTarget->HandleAllocated())
      ImageList_DragLeave(FTarget->Handle());
    struct TLeaveEnd {
      TCustomDropTarget* Self;
      ~TLeaveEnd() {
        Self->FTarget = nullptr;
        Self->FDropTargetHelper.Release();
      }
    } leaveEnd{this};
    DoLeave();
    return S_OK;
  } catch (...) {
    FDataObject.Release();
    return E_UNEXPECTED;
  }
}

HRESULT TCustomDropTarget::Drop(IDataObject* DataObject, DWORD KeyState, POINTL Point, DWORD* Effect) {
  if (!Effect) return E_INVALIDARG;
  HRESULT result = E_UNEXPECTED;
  try {
    if (!FEnabled || !FDataObject) {
      *Effect = DROPEFFECT_NONE;
    } else {
      const TShiftState shift = KeysToShiftState(KeyState);
      const TPoint client = ClientPoint(Point);
      *Effect = GetValidDropEffect(shift, client, *Effect);
      try {
        if (FetchData(*Effect))
          DoDrop(shift, client, *Effect);
        else
          *Effect = DROPEFFECT_NONE;
        result = S_OK;
      } catch (...) {
        *Effect = DROPEFFECT_NONE;
        result = E_UNEXPECTED;
      }
    }

    if (FDropTargetHelper) {
      POINT p{Point.x, Point.y};
      FDropTargetHelper->Drop(DataObject, &p, *Effect);
    } else if (FDragImageHandle && FTarget && FTarget->HandleAllocated()) {
      ImageList_DragLeave(FTarget->Handle());
    }
  } catch (...) {
    *Effect = DROPEFFECT_NONE;
    result = E_UNEXPECTED;
  }
  // Last of all, on every path: the names were valid during OnDrop only.
  try {
    ClearData();
  } catch (...) {
    *Effect = DROPEFFECT_NONE;
    result = E_UNEXPECTED;
  }
  FDataObject.Release();
  FTarget = nullptr;
  FDropTargetHelper.Release();
  return result;
}

void TCustomDropTarget::Raise(const TDropTargetEvent& Event, TShiftState ShiftState, TPoint APoint, DWORD& Effect) {
  if (!Event) return;
  int32_t value = static_cast<int32_t>(Effect);
  Event(this, ShiftState, APoint, value);
  Effect = static_cast<DWORD>(value);
}

void TCustomDropTarget::DoEnter(TShiftState ShiftState, TPoint APoint, DWORD& Effect) {
  Raise(OnEnter, ShiftState, APoint, Effect);
}

void TCustomDropTarget::DoDragOver(TShiftState ShiftState, TPoint APoint, DWORD& Effect) {
  Raise(OnDragOver, ShiftState, APoint, Effect);
}

void TCustomDropTarget::DoLeave() {
  if (OnLeave) OnLeave(this);
}

void TCustomDropTarget::DoDrop(TShiftState ShiftState, TPoint APoint, DWORD& Effect) {
  Raise(OnDrop, ShiftState, APoint, Effect);
  if (Effect == DROPEFFECT_NONE) return;
  const DWORD performed = FOptimizedMove && Effect == DROPEFFECT_MOVE ? DROPEFFECT_COPY : Effect;
  if (SetPerformedDropEffect(performed)) Effect = performed;
}

bool TCustomDropTarget::FetchData(DWORD) {
  ClearData();
  return DoFetchData();
}

bool TCustomDropTarget::SetPerformedDropEffect(DWORD Effect) {
  if (!FDataObject) return false;
  FORMATETC format{PerformedDropEffectFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL | TYMED_ISTREAM};
  STGMEDIUM medium{};
  medium.tymed = TYMED_ISTREAM;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DWORD));
  if (!block) return false;
  auto* bytes = static_cast<uint8_t*>(GlobalLock(block));
  if (!bytes) {  // a block without the value would tell the source "none"
    GlobalFree(block);
    return false;
  }
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(Effect >> (8 * i));  // little-endian
  GlobalUnlock(block);
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &medium.pstm))) {
    GlobalFree(block);
    return false;
  }
  // With the release flag the medium is the data object's once SetData succeeds.
  const HRESULT hr = FDataObject->SetData(&format, &medium, TRUE);
  if (FAILED(hr)) ReleaseStgMedium(&medium);
  return SUCCEEDED(hr);
}

// ---------------------------------------------------------------------------------------------

TCustomDropMultiTarget::TCustomDropMultiTarget(TComponent* AOwner) : TCustomDropTarget(AOwner) {
  SetDragTypes({dtCopy, dtLink});
}

TCustomDropMultiTarget::~TCustomDropMultiTarget() {
  while (FDataFormats->Count() > 0) delete (*FDataFormats)[FDataFormats->Count() - 1];
}

void TCustomDropMultiTarget::DoAcceptFormat(TCustomDataFormat* DataFormat, bool& Accept) {
  if (OnAcceptFormat) OnAcceptFormat(this, DataFormat, Accept);
}

bool TCustomDropMultiTarget::HasValidFormats(IDataObject* ADataObject) {
  bool result = false;
  TComRef<IEnumFORMATETC> formats;
  if (ADataObject->EnumFormatEtc(DATADIR_GET, formats.Receive()) != S_OK || !formats) return false;
  if (formats->Reset() != S_OK) return false;
  while (!result) {
    FORMATETC f{};
    ULONG fetched = 0;
    if (formats->Next(1, &f, &fetched) != S_OK || fetched != 1) break;
    // An enumerator hands over its target devices; we never keep them.
    struct TDevice {
      DVTARGETDEVICE* Ptd;
      ~TDevice() {
        if (Ptd) CoTaskMemFree(Ptd);
      }
    } device{f.ptd};
    for (int i = 0; i < FDataFormats->Count(); ++i) {
      TCustomDataFormat* df = (*FDataFormats)[i];
      if (df->AcceptFormat(f) && df->HasValidFormats(ADataObject)) {
        result = true;
        DoAcceptFormat(df, result);
        if (result) break;
      }
    }
  }
  return result;
}

bool TCustomDropMultiTarget::DoFetchData() {
  bool result = false;
  IDataObject* data = DataObject();
  if (!data) return false;
  for (int i = 0; i < FDataFormats->Count(); ++i) {
    TCustomDataFormat* df = (*FDataFormats)[i];
    if (!df->HasValidFormats(data)) continue;
    bool accept = true;
    DoAcceptFormat(df, accept);
    if (accept && df->GetData(data)) result = true;
  }
  return result;
}

void TCustomDropMultiTarget::ClearData() {
  for (int i = 0; i < FDataFormats->Count(); ++i) (*FDataFormats)[i]->Clear();
}
