#include "DragDropFile.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

#include "DragDropPIDL.h"
#include "DropParsers.h"

namespace {

std::string TypeName(const TObject* Object) {
  if (!Object) return "nil";
  const char* mangled = typeid(*Object).name();
  int status = 0;
  char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && plain ? plain : mangled;
  std::free(plain);
  return name;
}

[[noreturn]] void ListIndexError(int Index) {
  throw std::out_of_range(DragDropFormat("List index out of bounds (%d)", Index));
}

// The id of a registered format, asked for once; 0 (a failed registration) is asked again.
CLIPFORMAT RegisteredFormat(CLIPFORMAT& Cache, const wchar_t* Name) {
  if (!Cache) Cache = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(Name));
  return Cache;
}

std::wstring ToWide(const std::u16string& S) { return std::wstring(S.begin(), S.end()); }

}  // namespace

// ---------------------------------------------------------------------------------------------

const std::wstring& TStringList::operator[](int Index) const {
  if (Index < 0 || Index >= Count()) ListIndexError(Index);
  return FItems[static_cast<size_t>(Index)];
}

std::wstring& TStringList::operator[](int Index) {
  if (Index < 0 || Index >= Count()) ListIndexError(Index);
  return FItems[static_cast<size_t>(Index)];
}

void TStringList::Insert(int Index, const std::wstring& S) {
  if (Index < 0 || Index > Count()) ListIndexError(Index);
  FItems.insert(FItems.begin() + Index, S);
}

void TStringList::Delete(int Index) {
  if (Index < 0 || Index >= Count()) ListIndexError(Index);
  FItems.erase(FItems.begin() + Index);
}

// ---------------------------------------------------------------------------------------------

bool TUnicodeStrings::AssignTo(TObject* Dest) {
  if (auto* list = dynamic_cast<TStringList*>(Dest)) {
    list->Clear();
    for (int i = 0; i < Count(); ++i) list->Add(Get(i));
    return true;
  }
  return false;
}

void TUnicodeStrings::Assign(TObject* Source) {
  if (Source == this) return;
  const auto* strings = dynamic_cast<const TUnicodeStrings*>(Source);
  const auto* list = dynamic_cast<const TStringList*>(Source);
  if (strings || list) {
    BeginUpdate();
    try {
      Clear();
      const int n = strings ? strings->Count() : list->Count();
      WriteCapacity(n);
      for (int i = 0; i < n; ++i) Add(strings ? strings->Get(i) : (*list)[i]);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  throw EDragDropError(
      DragDropFormat("Cannot assign a %s to a %s", TypeName(Source).c_str(), TypeName(this).c_str()));
}

void TUnicodeStrings::NoteChanged() {
  if (FUpdateCount == 0 && OnChange) OnChange(this);
}

void TUnicodeStrings::NoteChanging() {
  if (FUpdateCount == 0 && OnChanging) OnChanging(this);
}

int TUnicodeStrings::Add(const std::wstring& S) {
  const int index = Count();
  Insert(index, S);
  return index;
}

int TUnicodeStrings::IndexOf(const std::wstring& S) const {
  for (int i = Count() - 1; i >= 0; --i)
    if (Get(i) == S) return i;
  return -1;
}

void TUnicodeStrings::Exchange(int Index1, int Index2) {
  const std::wstring a = Get(Index1);
  const std::wstring b = Get(Index2);
  BeginUpdate();
  Put(Index1, b);
  Put(Index2, a);
  EndUpdate();
}

void TUnicodeStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  const std::wstring s = Get(CurIndex);
  BeginUpdate();
  Delete(CurIndex);
  Insert(NewIndex, s);
  EndUpdate();
}

void TUnicodeStrings::BeginUpdate() {
  if (FUpdateCount == 0 && OnChanging) OnChanging(this);
  ++FUpdateCount;
}

void TUnicodeStrings::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0 && OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------------------------

void TUnicodeStringList::CheckIndex(int Index, int Limit) const {
  if (Index < 0 || Index > Limit) ListIndexError(Index);
}

void TUnicodeStringList::WriteCapacity(int Value) {
  if (Value >= FCount) FStrings.resize(static_cast<size_t>(Value));
}

std::wstring TUnicodeStringList::Get(int Index) const {
  CheckIndex(Index, FCount - 1);
  return FStrings[static_cast<size_t>(Index)];
}

void TUnicodeStringList::Put(int Index, const std::wstring& S) {
  CheckIndex(Index, FCount - 1);
  NoteChanging();
  FStrings[static_cast<size_t>(Index)] = S;
  NoteChanged();
}

void TUnicodeStringList::Grow() {
  const int capacity = ReadCapacity();
  const int delta = capacity > 64 ? capacity / 4 : capacity > 8 ? 16 : 4;
  FStrings.resize(static_cast<size_t>(capacity + delta));
}

void TUnicodeStringList::Insert(int Index, const std::wstring& S) {
  CheckIndex(Index, FCount);
  NoteChanging();
  if (FCount == ReadCapacity()) Grow();
  for (int i = FCount; i > Index; --i) FStrings[static_cast<size_t>(i)].swap(FStrings[static_cast<size_t>(i - 1)]);
  FStrings[static_cast<size_t>(Index)] = S;
  ++FCount;
  NoteChanged();
}

void TUnicodeStringList::Clear() {
  NoteChanging();
  for (int i = 0; i < FCount; ++i) FStrings[static_cast<size_t>(i)].clear();
  FCount = 0;
  NoteChanged();
}

void TUnicodeStringList::Delete(int Index) {
  CheckIndex(Index, FCount - 1);
  NoteChanging();
  for (int i = Index; i + 1 < FCount; ++i) FStrings[static_cast<size_t>(i)].swap(FStrings[static_cast<size_t>(i + 1)]);
  --FCount;
  FStrings[static_cast<size_t>(FCount)].clear();
  NoteChanged();
}

// ---------------------------------------------------------------------------------------------

TFileClipboardFormat::TFileClipboardFormat() { CreateWithMedia(kMedia); }

bool TFileClipboardFormat::LoadBytes(const uint8_t* Buffer, int32_t Size) {
  auto files = dropparsers::ParseDropFiles(Buffer, Size > 0 ? static_cast<size_t>(Size) : 0);
  if (!files) return false;
  FFiles.Clear();
  if (files->wide)
    for (const auto& name : files->wideNames) FFiles.Add(ToWide(name));
  else
    for (const auto& name : files->narrowNames) FFiles.Add(AnsiToWide(name));
  return FFiles.Count() > 0;
}

TUnicodeFilenameClipboardFormat::TUnicodeFilenameClipboardFormat() { CreateWithMedia(kMedia); }

void TUnicodeFilenameClipboardFormat::DeclareConversions() {
  StaticClass()->MapDataFormat(TFileDataFormat::StaticClass(), 2, ccWriteToDataFormat | ccReadFromDataFormat);
}

CLIPFORMAT TUnicodeFilenameClipboardFormat::GetClipboardFormat() {
  static CLIPFORMAT id = 0;
  return RegisteredFormat(id, L"FileNameW");
}

bool TUnicodeFilenameClipboardFormat::AssignTo(TCustomDataFormat* Dest) {
  auto* files = dynamic_cast<TFileDataFormat*>(Dest);
  if (!files) return false;
  files->Files().Add(Filename());
  return true;
}

TAnsiFilenameClipboardFormat::TAnsiFilenameClipboardFormat() { CreateWithMedia(kMedia); }

void TAnsiFilenameClipboardFormat::DeclareConversions() {
  StaticClass()->MapDataFormat(TFileDataFormat::StaticClass(), 3, ccWriteToDataFormat | ccReadFromDataFormat);
}

CLIPFORMAT TAnsiFilenameClipboardFormat::GetClipboardFormat() {
  static CLIPFORMAT id = 0;
  return RegisteredFormat(id, L"FileName");
}

bool TAnsiFilenameClipboardFormat::AssignTo(TCustomDataFormat* Dest) {
  auto* files = dynamic_cast<TFileDataFormat*>(Dest);
  if (!files) return false;
  files->Files().Clear();
  files->Files().Add(AnsiToWide(Filename()));
  return true;
}

TUnicodeFilenameMapClipboardFormat::TUnicodeFilenameMapClipboardFormat() { CreateWithMedia(kMedia); }

CLIPFORMAT TUnicodeFilenameMapClipboardFormat::GetClipboardFormat() {
  static CLIPFORMAT id = 0;
  return RegisteredFormat(id, L"FileNameMapW");
}

bool TUnicodeFilenameMapClipboardFormat::LoadBytes(const uint8_t* Buffer, int32_t Size) {
  std::vector<std::u16string> names;
  dropparsers::ReadWideNameList(Buffer, Size > 0 ? static_cast<size_t>(Size) : 0, names);
  for (const auto& name : names) FFileMaps.Add(ToWide(name));
  return !names.empty();
}

TAnsiFilenameMapClipboardFormat::TAnsiFilenameMapClipboardFormat() { CreateWithMedia(kMedia); }

CLIPFORMAT TAnsiFilenameMapClipboardFormat::GetClipboardFormat() {
  static CLIPFORMAT id = 0;
  return RegisteredFormat(id, L"FileNameMap");
}

bool TAnsiFilenameMapClipboardFormat::LoadBytes(const uint8_t* Buffer, int32_t Size) {
  std::vector<std::string> names;
  dropparsers::ReadNarrowNameList(Buffer, Size > 0 ? static_cast<size_t>(Size) : 0, names);
  for (const auto& name : names) FFileMaps.Add(AnsiToWide(name));
  return !names.empty();
}

// ---------------------------------------------------------------------------------------------

TFileDataFormat::TFileDataFormat(TDragDropComponent* AOwner) : TCustomDataFormat(AOwner) {
  FFiles.OnChanging = [this](TObject*) { NotifyChanging(); };
}

void TFileDataFormat::DeclareConversions() {
  const TConversionCapabilities both = ccWriteToDataFormat | ccReadFromDataFormat;
  StaticClass()->MapClipboardFormat(TFileClipboardFormat::StaticClass(), 0, both);
  StaticClass()->MapClipboardFormat(TPIDLClipboardFormat::StaticClass(), 1, both);
}

bool TFileDataFormat::Assign(TClipboardFormat* Source) {
  if (auto* hdrop = dynamic_cast<TFileClipboardFormat*>(Source)) {
    FFiles.Assign(&hdrop->Files());
    return true;
  }
  if (auto* pidl = dynamic_cast<TPIDLClipboardFormat*>(Source)) {
    FFiles.Assign(&pidl->Filenames());
    return true;
  }
  return Source->AssignTo(this);
}

TFileMapDataFormat::TFileMapDataFormat(TDragDropComponent* AOwner) : TCustomDataFormat(AOwner) {
  FFileMaps.OnChanging = [this](TObject*) { NotifyChanging(); };
}

void TFileMapDataFormat::DeclareConversions() {
  const TConversionCapabilities both = ccWriteToDataFormat | ccReadFromDataFormat;
  StaticClass()->MapClipboardFormat(TAnsiFilenameMapClipboardFormat::StaticClass(), 0, both);
  StaticClass()->MapClipboardFormat(TUnicodeFilenameMapClipboardFormat::StaticClass(), -1, both);
}

bool TFileMapDataFormat::Assign(TClipboardFormat* Source) {
  if (auto* ansi = dynamic_cast<TAnsiFilenameMapClipboardFormat*>(Source)) {
    FFileMaps.Assign(&ansi->FileMaps());
    return true;
  }
  if (auto* wide = dynamic_cast<TUnicodeFilenameMapClipboardFormat*>(Source)) {
    FFileMaps.Assign(&wide->FileMaps());
    return true;
  }
  return Source->AssignTo(this);
}

// ---------------------------------------------------------------------------------------------

TDropFileTarget::TDropFileTarget(TComponent* AOwner) : TCustomDropMultiTarget(AOwner) {
  FFileFormat = new TFileDataFormat(this);
  FFileMapFormat = new TFileMapDataFormat(this);
  SetOptimizedMove(true);
}

TDropFileTarget::~TDropFileTarget() {
  delete FFileFormat;
  delete FFileMapFormat;
}

// ---------------------------------------------------------------------------------------------

void DragDropFileInitialize() {
  TFileDataFormat::StaticClass()->RegisterDataFormat();
  TFileMapDataFormat::StaticClass()->RegisterDataFormat();
  // The formats for virtual file contents would follow here; nothing in this program reads them.
  TAnsiFilenameClipboardFormat::StaticClass()->RegisterFormat();
  TFileClipboardFormat::StaticClass()->RegisterFormat();
  TPIDLClipboardFormat::StaticClass()->RegisterFormat();
  TAnsiFilenameClipboardFormat::StaticClass()->RegisterFormat();  // finds its entry, keeps its place
  TUnicodeFilenameClipboardFormat::StaticClass()->RegisterFormat();
  TAnsiFilenameMapClipboardFormat::StaticClass()->RegisterFormat();
  TUnicodeFilenameMapClipboardFormat::StaticClass()->RegisterFormat();
}
