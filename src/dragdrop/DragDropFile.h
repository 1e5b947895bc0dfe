// File names out of a dropped data object: the clipboard formats that carry them (CF_HDROP, "FileNameW", "FileName", "FileNameMapW", "FileNameMap";
// "Shell IDList Array" is in DragDropPIDL.h), the two data formats that collect them, and the
// drop target that reads files.
#pragma once
#include "DragDropFormats.h"
#include "DragDropStrings.h"
#include "DragDropText.h"
#include "DropTarget.h"

// ---------------------------------------------------------------------------------------------
// Clipboard formats.

// CF_HDROP: a DROPFILES header and a list of names.
class TFileClipboardFormat : public TCustomSimpleClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TFileClipboardFormat, TCustomSimpleClipboardFormat)
 public:
  TFileClipboardFormat();
  CLIPFORMAT GetClipboardFormat() override { return CF_HDROP; }
  bool LoadBytes(const uint8_t* Buffer, int32_t Size) override;
  void Clear() override { FFiles.Clear(); }
  bool HasData() override { return FFiles.Count() > 0; }
  TUnicodeStrings& Files() { return FFiles; }

 private:
  TUnicodeStringList FFiles;
};

// "FileNameW": one name, kept exactly as sent (terminator and tail included).
class TUnicodeFilenameClipboardFormat : public TCustomUnicodeTextClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TUnicodeFilenameClipboardFormat, TCustomUnicodeTextClipboardFormat)
 public:
  TUnicodeFilenameClipboardFormat();
  static void DeclareConversions();
  CLIPFORMAT GetClipboardFormat() override;
  bool AssignTo(TCustomDataFormat* Dest) override;
  const std::wstring& Filename() const { return FText; }
};

// "FileName": one name in the ANSI code page, cut at its first zero byte.
class TAnsiFilenameClipboardFormat : public TCustomAnsiTextClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TAnsiFilenameClipboardFormat, TCustomAnsiTextClipboardFormat)
 public:
  TAnsiFilenameClipboardFormat();
  static void DeclareConversions();
  CLIPFORMAT GetClipboardFormat() override;
  bool AssignTo(TCustomDataFormat* Dest) override;
  const std::string& Filename() const { return FData; }
};

// "FileNameMapW": the names the files take at the destination.
class TUnicodeFilenameMapClipboardFormat : public TCustomSimpleClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TUnicodeFilenameMapClipboardFormat, TCustomSimpleClipboardFormat)
 public:
  TUnicodeFilenameMapClipboardFormat();
  CLIPFORMAT GetClipboardFormat() override;
  bool LoadBytes(const uint8_t* Buffer, int32_t Size) override;
  void Clear() override { FFileMaps.Clear(); }
  bool HasData() override { return FFileMaps.Count() > 0; }
  TUnicodeStrings& FileMaps() { return FFileMaps; }

 private:
  TUnicodeStringList FFileMaps;
};

// "FileNameMap": the same in the ANSI code page.
class TAnsiFilenameMapClipboardFormat : public TCustomSimpleClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TAnsiFilenameMapClipboardFormat, TCustomSimpleClipboardFormat)
 public:
  TAnsiFilenameMapClipboardFormat();
  CLIPFORMAT GetClipboardFormat() override;
  bool LoadBytes(const uint8_t* Buffer, int32_t Size) override;
  void Clear() override { FFileMaps.Clear(); }
  bool HasData() override { return FFileMaps.Count() > 0; }
  TStringList& FileMaps() { return FFileMaps; }

 private:
  TStringList FFileMaps;
};

// ---------------------------------------------------------------------------------------------
// Data formats.

class TFileDataFormat : public TCustomDataFormat {
  DRAGDROP_DATA_CLASS(TFileDataFormat, TCustomDataFormat)
 public:
  explicit TFileDataFormat(TDragDropComponent* AOwner);
  static void DeclareConversions();
  bool Assign(TClipboardFormat* Source) override;
  void Clear() override { FFiles.Clear(); }
  bool HasData() override { return FFiles.Count() > 0; }
  bool NeedsData() override { return FFiles.Count() == 0; }
  TUnicodeStrings& Files() { return FFiles; }

 private:
  TUnicodeStringList FFiles;
};

class TFileMapDataFormat : public TCustomDataFormat {
  DRAGDROP_DATA_CLASS(TFileMapDataFormat, TCustomDataFormat)
 public:
  explicit TFileMapDataFormat(TDragDropComponent* AOwner);
  static void DeclareConversions();
  bool Assign(TClipboardFormat* Source) override;
  void Clear() override { FFileMaps.Clear(); }
  bool HasData() override { return FFileMaps.Count() > 0; }
  bool NeedsData() override { return FFileMaps.Count() == 0; }
  TUnicodeStrings& FileMaps() { return FFileMaps; }

 private:
  TUnicodeStringList FFileMaps;
};

// ---------------------------------------------------------------------------------------------

// Accepts dropped files: Files() holds the dropped names and MappedNames() the names mapped by
// the source, both only during OnDrop (they are emptied again when Drop returns).
class TDropFileTarget : public TCustomDropMultiTarget {
 public:
  explicit TDropFileTarget(TComponent* AOwner);
  ~TDropFileTarget() override;
  TUnicodeStrings& Files() { return FFileFormat->Files(); }
  TUnicodeStrings& MappedNames() { return FFileMapFormat->FileMaps(); }

 private:
  TFileDataFormat* FFileFormat;
  TFileMapDataFormat* FFileMapFormat;
};

// Start-up registrations of the file formats; they fix the order in which formats are tried.
// Run once, after DragDropInitialize.
void DragDropFileInitialize();
