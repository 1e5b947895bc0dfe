#include "DragDropFile.h"

#include "DragDropPIDL.h"
#include "DropParsers.h"

namespace {

std::wstring ToWide(const std::u16string& S) { return std::wstring(S.begin(), S.end()); }

}  // namespace

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
  return RegisteredClipboardFormat(id, L"FileNameW");
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
  return RegisteredClipboardFormat(id, L"FileName");
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
  return RegisteredClipboardFormat(id, L"FileNameMapW");
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
  return RegisteredClipboardFormat(id, L"FileNameMap");
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
  TAnsiFilenameClipboardFormat::StaticClass()->RegisterFormat();
  TFileClipboardFormat::StaticClass()->RegisterFormat();
  TPIDLClipboardFormat::StaticClass()->RegisterFormat();
  TAnsiFilenameClipboardFormat::StaticClass()->RegisterFormat();  // finds its entry, keeps its place
  TUnicodeFilenameClipboardFormat::StaticClass()->RegisterFormat();
  TAnsiFilenameMapClipboardFormat::StaticClass()->RegisterFormat();
  TUnicodeFilenameMapClipboardFormat::StaticClass()->RegisterFormat();
}
