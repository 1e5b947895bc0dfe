#include "DragDrop.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <type_traits>

std::string DragDropFormat(const char* Fmt, ...) {
  char buffer[512];
  va_list args;
  va_start(args, Fmt);
  std::vsnprintf(buffer, sizeof buffer, Fmt, args);
  va_end(args);
  return buffer;
}

CLIPFORMAT RegisteredClipboardFormat(CLIPFORMAT& Cache, const wchar_t* Name) {
  if (!Cache) Cache = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(Name));
  return Cache;
}

namespace {

bool gShuttingDown = false;
bool gOleInitialized = false;
TDataFormatMap* gFormatMap = nullptr;
TDataFormatClasses* gDataFormatClasses = nullptr;

void Assert(bool Condition, const char* What) {
  if (!Condition) throw EDragDropError(DragDropFormat("Assertion failed: %s", What));
}

// Root descriptors: the framework's two base classes have no parent.
struct TNoClipboardParent {
  static TClipboardFormatClass StaticClass() { return nullptr; }
};
struct TNoDataParent {
  static TDataFormatClass StaticClass() { return nullptr; }
};

}  // namespace

bool ShuttingDown() { return gShuttingDown; }

// ---------------------------------------------------------------------------------------------

bool TClassInfo::InheritsFrom(const TClassInfo* AClass) const {
  for (const TClassInfo* c = this; c; c = c->FParent)
    if (c == AClass) return true;
  return false;
}

void TClipboardFormatClassInfo::UnregisterClipboardFormat() const {
  if (ShuttingDown()) return;
  TDataFormatMap::Instance().DeleteByClipboardFormat(this);
}

void TClipboardFormatClassInfo::MapDataFormat(TDataFormatClass DataFormatClass, int32_t Priority,
                                              TConversionCapabilities Capabilities) const {
  TDataFormatMap::Instance().RegisterFormatMap(DataFormatClass, this, Priority, Capabilities);
}

void TClipboardFormatClassInfo::MapDataFormat(TDataFormatClass DataFormatClass) const {
  // Without a priority a mapping goes last.
  MapDataFormat(DataFormatClass, std::numeric_limits<int32_t>::max(), ccWriteToDataFormat);
}

void TDataFormatClassInfo::RegisterDataFormat() const {
  if (ShuttingDown()) return;
  TDataFormatClasses::Instance().Add(this);
  DeclareConversions();
}

void TDataFormatClassInfo::UnregisterDataFormat() const {
  if (ShuttingDown()) return;
  TDataFormatMap::Instance().DeleteByDataFormat(this);
  TDataFormatClasses::Instance().Remove(this);
}

void TDataFormatClassInfo::MapClipboardFormat(TClipboardFormatClass ClipboardFormatClass, int32_t Priority,
                                              TConversionCapabilities Capabilities) const {
  if (ShuttingDown()) return;
  TDataFormatMap::Instance().RegisterFormatMap(this, ClipboardFormatClass, Priority, Capabilities);
}

// ---------------------------------------------------------------------------------------------

namespace {
// Releases a medium the data object handed over, exactly once.
class TMediumHolder {
 public:
  explicit TMediumHolder(STGMEDIUM& AMedium) : FMedium(AMedium) {}
  ~TMediumHolder() {
    ReleaseStgMedium(&FMedium);
    ZeroMemory(&FMedium, sizeof FMedium);
  }
  TMediumHolder(const TMediumHolder&) = delete;
  TMediumHolder& operator=(const TMediumHolder&) = delete;

 private:
  STGMEDIUM& FMedium;
};
}  // namespace

TClipboardFormatClass TClipboardFormat::StaticClass() {
  static const TClipboardFormatClassOf<TClipboardFormat, TNoClipboardParent> Info("TClipboardFormat");
  return &Info;
}
TClipboardFormatClass TClipboardFormat::ClassType() const { return StaticClass(); }

TClipboardFormat::TClipboardFormat() {
  ZeroMemory(&FFormatEtc, sizeof FFormatEtc);
  FFormatEtc.dwAspect = DVASPECT_CONTENT;
  FFormatEtc.lindex = -1;
}

void TClipboardFormat::CreateWithMedia(DWORD Media) {
  FFormatEtc.cfFormat = GetClipboardFormat();
  FFormatEtc.ptd = nullptr;
  FFormatEtc.dwAspect = DVASPECT_CONTENT;
  FFormatEtc.lindex = -1;
  FFormatEtc.tymed = Media;
}

void TClipboardFormat::CreateFromFormatEtc(const FORMATETC& AFormatEtc) { FFormatEtc = AFormatEtc; }

bool TClipboardFormat::ReadMedium(IDataObject*, const STGMEDIUM&) { return false; }

CLIPFORMAT TClipboardFormat::GetClipboardFormat() {
  throw EDragDropError(
      DragDropFormat("Internal error: %s.%s needs implementation", ClassName(), "GetClipboardFormat"));
}

void TClipboardFormat::PutClipboardFormat(CLIPFORMAT Value) { FFormatEtc.cfFormat = Value; }

std::wstring TClipboardFormat::FetchClipboardFormatName() {
  wchar_t name[256];
  const int n = GetClipboardFormatNameW(ClipboardFormat(), name, 255);
  return std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0);
}

void TClipboardFormat::PutClipboardFormatName(const std::wstring&) {
  throw EDragDropError(DragDropFormat("%s.ClipboardFormat is read-only", ClassName()));
}

DWORD TClipboardFormat::AskMedia(IDataObject* ADataObject, bool FirstOnly) const {
  // One question per medium, lowest bit first.
  FORMATETC f = FFormatEtc;
  DWORD result = 0;
  for (DWORD m = 1; m != 0 && m <= FFormatEtc.tymed; m <<= 1) {
    if (!(FFormatEtc.tymed & m)) continue;
    f.tymed = m;
    if (SUCCEEDED(ADataObject->QueryGetData(&f))) {
      result |= m;
      if (FirstOnly) break;
    }
  }
  return result;
}

DWORD TClipboardFormat::QueryMedia(IDataObject* ADataObject) { return AskMedia(ADataObject, false); }

bool TClipboardFormat::HasValidFormats(IDataObject* ADataObject) { return AskMedia(ADataObject, true) != 0; }

bool TClipboardFormat::AcceptFormat(const FORMATETC& AFormatEtc) {
  return AFormatEtc.cfFormat == FFormatEtc.cfFormat && AFormatEtc.ptd == nullptr &&
         AFormatEtc.dwAspect == FFormatEtc.dwAspect && (AFormatEtc.tymed & FFormatEtc.tymed) != 0;
}

bool TClipboardFormat::GetData(IDataObject* ADataObject) {
  Clear();
  STGMEDIUM medium;
  ZeroMemory(&medium, sizeof medium);
  FORMATETC f = FFormatEtc;
  f.tymed = QueryMedia(ADataObject);
  if (FAILED(ADataObject->GetData(&f, &medium))) return false;
  return GetDataFromMedium(ADataObject, medium);
}

bool TClipboardFormat::GetDataFromMedium(IDataObject* ADataObject, STGMEDIUM& AMedium) {
  TMediumHolder release(AMedium);
  Clear();
  if (!(AMedium.tymed & FFormatEtc.tymed)) return false;
  return ReadMedium(ADataObject, AMedium);
}

bool TClipboardFormat::Assign(TCustomDataFormat*) { return false; }
bool TClipboardFormat::AssignTo(TCustomDataFormat*) { return false; }

// ---------------------------------------------------------------------------------------------

TClipboardFormats::TClipboardFormats(TCustomDataFormat* ADataFormat, bool AOwnsObjects)
    : FOwnsObjects(AOwnsObjects), FDataFormat(ADataFormat) {}

TClipboardFormats::~TClipboardFormats() { Clear(); }

int TClipboardFormats::Add(TClipboardFormat* ClipboardFormat) {
  FList.push_back(ClipboardFormat);
  if (FOwnsObjects && FDataFormat && ClipboardFormat) ClipboardFormat->FDataFormat = FDataFormat;
  return Count() - 1;
}

void TClipboardFormats::Clear() {
  if (FOwnsObjects)
    while (!FList.empty()) {
      TClipboardFormat* last = FList.back();
      FList.pop_back();
      delete last;
    }
  FList.clear();
}

TClipboardFormat* TClipboardFormats::FindFormat(CLIPFORMAT ClipboardFormat) const {
  for (TClipboardFormat* f : FList)
    if (f->ClipboardFormat() == ClipboardFormat) return f;
  return nullptr;
}

TClipboardFormat* TClipboardFormats::FindFormat(TClipboardFormatClass ClipboardFormatClass) const {
  for (TClipboardFormat* f : FList)
    if (f->ClassType()->InheritsFrom(ClipboardFormatClass)) return f;
  return nullptr;
}

TClipboardFormat* TClipboardFormats::GetFormat(CLIPFORMAT ClipboardFormat) const {
  if (TClipboardFormat* f = FindFormat(ClipboardFormat)) return f;
  throw EDragDropError(DragDropFormat("Clipboard format %d does not exist in %s's list of copatible formats",
                                      static_cast<int>(ClipboardFormat),
                                      FDataFormat ? FDataFormat->ClassName() : "(none)"));
}

TClipboardFormat* TClipboardFormats::GetFormat(TClipboardFormatClass ClipboardFormatClass) const {
  if (TClipboardFormat* f = FindFormat(ClipboardFormatClass)) return f;
  throw EDragDropError(DragDropFormat("Clipboard format %s does not exist in %s's list of copatible formats",
                                      ClipboardFormatClass->ClassName(),
                                      FDataFormat ? FDataFormat->ClassName() : "(none)"));
}

void TClipboardFormats::Assign(const TClipboardFormats& Source) {
  Clear();
  FOwnsObjects = false;
  FList = Source.FList;
}

// ---------------------------------------------------------------------------------------------

TDataFormatClass TCustomDataFormat::StaticClass() {
  static const TDataFormatClassOf<TCustomDataFormat, TNoDataParent> Info("TCustomDataFormat");
  return &Info;
}
TDataFormatClass TCustomDataFormat::ClassType() const { return StaticClass(); }

TCustomDataFormat::TCustomDataFormat(TDragDropComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->DataFormats().Add(this);
}

TCustomDataFormat::~TCustomDataFormat() {
  FCompatibleFormats.reset();
  if (FOwner) FOwner->DataFormats().Remove(this);
}

void TCustomDataFormat::FillFromMap(TDragDropTier Tier) {
  FCompatibleFormats = std::make_unique<TClipboardFormats>(this, true);
  TDataFormatMap::GetClipboardFormats(ClassType(), *FCompatibleFormats, Tier);
}

TClipboardFormats& TCustomDataFormat::CompatibleFormats() {
  if (!FCompatibleFormats) {
    Assert(FOwner != nullptr, "a data format without owner has no compatible formats");
    FCompatibleFormats = std::make_unique<TClipboardFormats>(this, true);
    FOwner->GetCompatibleClipboardFormats(ClassType(), *FCompatibleFormats);
  }
  return *FCompatibleFormats;
}

void TCustomDataFormat::NotifyChanging() {
  if (OnChanging) OnChanging(this);
}

bool TCustomDataFormat::Assign(TClipboardFormat* Source) { return Source->AssignTo(this); }
bool TCustomDataFormat::AssignTo(TClipboardFormat* Dest) { return Dest->Assign(this); }

bool TCustomDataFormat::GetData(IDataObject* DataObject) {
  bool result = false;
  TClipboardFormats& formats = CompatibleFormats();
  for (int i = 0; NeedsData() && i < formats.Count(); ++i) {
    TClipboardFormat* f = formats[i];
    f->Clear();
    if (f->GetData(DataObject) && f->HasData() && Assign(f)) {
      f->Clear();
      result = true;
    }
  }
  return result;
}

bool TCustomDataFormat::HasValidFormats(IDataObject* ADataObject) {
  TClipboardFormats& formats = CompatibleFormats();
  for (int i = 0; i < formats.Count(); ++i)
    if (formats[i]->HasValidFormats(ADataObject)) return true;
  return false;
}

bool TCustomDataFormat::AcceptFormat(const FORMATETC& FormatEtc) {
  TClipboardFormats& formats = CompatibleFormats();
  for (int i = 0; i < formats.Count(); ++i)
    if (formats[i]->AcceptFormat(FormatEtc)) return true;
  return false;
}

// ---------------------------------------------------------------------------------------------

TDataFormats::~TDataFormats() {
  while (!FList.empty()) FList.pop_back();
}

int TDataFormats::Add(TCustomDataFormat* DataFormat) {
  const int existing = IndexOf(DataFormat);
  if (existing >= 0) return existing;
  FList.push_back(DataFormat);
  return Count() - 1;
}

int TDataFormats::IndexOf(const TCustomDataFormat* DataFormat) const {
  auto it = std::find(FList.begin(), FList.end(), DataFormat);
  return it == FList.end() ? -1 : static_cast<int>(it - FList.begin());
}

void TDataFormats::Remove(TCustomDataFormat* DataFormat) {
  auto it = std::find(FList.begin(), FList.end(), DataFormat);
  if (it != FList.end()) FList.erase(it);
}

// ---------------------------------------------------------------------------------------------

TDataFormatClasses::TDataFormatClasses() {
  Assert(gDataFormatClasses == nullptr, "a second TDataFormatClasses");
}
TDataFormatClasses::~TDataFormatClasses() {
  while (!FList.empty()) FList.pop_back();
}

TDataFormatClasses& TDataFormatClasses::Instance() {
  if (!gDataFormatClasses) {
    if (ShuttingDown()) OutputDebugStringW(L"DragDrop.TDataFormatClasses recreated during shutdown");
    gDataFormatClasses = new TDataFormatClasses();
  }
  return *gDataFormatClasses;
}

void TDataFormatClasses::DestroyInstance() {
  delete gDataFormatClasses;
  gDataFormatClasses = nullptr;
}

void TDataFormatClasses::Add(TDataFormatClass DataFormat) {
  if (std::find(FList.begin(), FList.end(), DataFormat) == FList.end()) FList.push_back(DataFormat);
}

void TDataFormatClasses::Remove(TDataFormatClass DataFormat) {
  FList.erase(std::remove(FList.begin(), FList.end(), DataFormat), FList.end());
}

// ---------------------------------------------------------------------------------------------

TDataFormatMap::TDataFormatMap() { Assert(gFormatMap == nullptr, "a second TDataFormatMap"); }
TDataFormatMap::~TDataFormatMap() = default;

TDataFormatMap& TDataFormatMap::Instance() {
  if (!gFormatMap) {
    if (ShuttingDown()) OutputDebugStringW(L"DragDrop.TDataFormatMap recreated during shutdown");
    gFormatMap = new TDataFormatMap();
  }
  return *gFormatMap;
}

void TDataFormatMap::DestroyInstance() {
  delete gFormatMap;
  gFormatMap = nullptr;
}

int TDataFormatMap::Find(TDataFormatClass DataFormatClass, TClipboardFormatClass ClipboardFormatClass) const {
  for (size_t i = 0; i < FList.size(); ++i)
    if (FList[i]->DataFormatClass->InheritsFrom(DataFormatClass) &&
        FList[i]->ClipboardFormatClass->InheritsFrom(ClipboardFormatClass))
      return static_cast<int>(i);
  return -1;
}

void TDataFormatMap::Add(TDataFormatClass DataFormatClass, TClipboardFormatClass ClipboardFormatClass,
                         int32_t Priority, TConversionCapabilities Capabilities) {
  std::unique_ptr<FormatMapEntry> entry;
  const int found = Find(DataFormatClass, ClipboardFormatClass);
  if (found < 0) {
    entry.reset(new FormatMapEntry{DataFormatClass, ClipboardFormatClass, 0, Capabilities});
  } else {
    entry = std::move(FList[static_cast<size_t>(found)]);
    FList.erase(FList.begin() + found);
    entry->Capabilities |= Capabilities;
  }
  if (Capabilities & ccReadFromDataFormat) entry->Priority = Priority;

  // Place it: after the last entry of its own run with a lower priority, else at the run's
  // start; among equal priorities the latest registration comes first. No run: last.
  int pos = static_cast<int>(FList.size());
  int i = pos - 1;
  while (i >= 0 && FList[static_cast<size_t>(i)]->DataFormatClass != entry->DataFormatClass) --i;
  if (i >= 0) {
    while (i >= 0 && FList[static_cast<size_t>(i)]->DataFormatClass == entry->DataFormatClass &&
           FList[static_cast<size_t>(i)]->Priority >= entry->Priority)
      --i;
    pos = i + 1;
  }
  FList.insert(FList.begin() + pos, std::move(entry));
}

void TDataFormatMap::Delete(TDataFormatClass DataFormatClass, TClipboardFormatClass ClipboardFormatClass) {
  const int found = Find(DataFormatClass, ClipboardFormatClass);
  if (found >= 0) FList.erase(FList.begin() + found);
}

void TDataFormatMap::DeleteByClipboardFormat(TClipboardFormatClass ClipboardFormatClass) {
  FList.erase(std::remove_if(FList.begin(), FList.end(),
                             [&](const std::unique_ptr<FormatMapEntry>& e) {
                               return e->ClipboardFormatClass->InheritsFrom(ClipboardFormatClass);
                             }),
              FList.end());
}

void TDataFormatMap::DeleteByDataFormat(TDataFormatClass DataFormatClass) {
  FList.erase(std::remove_if(FList.begin(), FList.end(),
                             [&](const std::unique_ptr<FormatMapEntry>& e) {
                               return e->DataFormatClass->InheritsFrom(DataFormatClass);
                             }),
              FList.end());
}

bool TDataFormatMap::CanMap(TDataFormatClass DataFormatClass, TClipboardFormatClass ClipboardFormatClass) const {
  return Find(DataFormatClass, ClipboardFormatClass) >= 0;
}

void TDataFormatMap::GetClipboardFormats(TDataFormatClass DataFormatClass, TClipboardFormats& ClipboardFormats,
                                         TDragDropTier Tier) {
  ClipboardFormats.Clear();
  const TDataFormatMap& map = Instance();
  for (const auto& e : map.FList) {
    if (!e->DataFormatClass->InheritsFrom(DataFormatClass)) continue;
    const bool fits = Tier == ddtTarget ? (e->Capabilities & ccWriteToDataFormat) ||
                                              (e->ClipboardFormatClass->DataDirection() & ddRead)
                                        : (e->Capabilities & ccReadFromDataFormat) ||
                                              (e->ClipboardFormatClass->DataDirection() & ddWrite);
    if (fits) ClipboardFormats.Add(e->ClipboardFormatClass->Create());
  }
}

// ---------------------------------------------------------------------------------------------

IUnknown* TInterfacedComponent::GetComponentUnknown() {
  return static_cast<IUnknown*>(GetInterface(IID_IUnknown));
}

HRESULT TInterfacedComponent::InterfaceQuery(REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  *ppvObject = GetInterface(riid);
  if (!*ppvObject) return E_NOINTERFACE;
  InterfaceAddRef();
  return S_OK;
}

ULONG TInterfacedComponent::InterfaceAddRef() {
  IUnknown* owner = Owner() ? Owner()->GetComponentUnknown() : nullptr;
  return owner ? owner->AddRef() : static_cast<ULONG>(-1);
}

ULONG TInterfacedComponent::InterfaceRelease() {
  IUnknown* owner = Owner() ? Owner()->GetComponentUnknown() : nullptr;
  return owner ? owner->Release() : static_cast<ULONG>(-1);
}

TDragDropComponent::TDragDropComponent(TComponent* AOwner)
    : TInterfacedComponent(AOwner), FDataFormats(std::make_unique<TDataFormats>()) {}

TDragDropComponent::~TDragDropComponent() {
  // Formats still listed outlive the component only as orphans.
  for (int i = 0; i < FDataFormats->Count(); ++i) (*FDataFormats)[i]->FOwner = nullptr;
}

void TDragDropComponent::GetCompatibleClipboardFormats(TDataFormatClass, TClipboardFormats& ClipboardFormats) {
  ClipboardFormats.Clear();
}

// ---------------------------------------------------------------------------------------------

bool DragDropInitialize() {
  if (!gOleInitialized) gOleInitialized = SUCCEEDED(OleInitialize(nullptr));
  return gOleInitialized;
}

void DragDropFinalize() {
  gShuttingDown = true;
  TDataFormatMap::DestroyInstance();
  TDataFormatClasses::DestroyInstance();
  if (gOleInitialized) {
    OleUninitialize();
    gOleInitialized = false;
  }
  gShuttingDown = false;
}
