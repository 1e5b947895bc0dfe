// File names out of a dropped data object: the string lists they arrive in, the clipboard
// formats that carry them (CF_HDROP, "FileNameW", "FileName", "FileNameMapW", "FileNameMap";
// "Shell IDList Array" is in DragDropPIDL.h), the two data formats that collect them, and the
// drop target that reads files.
#pragma once
#include <string>
#include <vector>

#include "DragDropFormats.h"
#include "DragDropText.h"
#include "DropTarget.h"

// A plain list of strings: unsorted, duplicates allowed.
class TStringList : public TObject {
 public:
  int Add(const std::wstring& S) {
    FItems.push_back(S);
    return Count() - 1;
  }
  void Clear() { FItems.clear(); }
  int Count() const { return static_cast<int>(FItems.size()); }
  const std::wstring& operator[](int Index) const;
  std::wstring& operator[](int Index);
  void Insert(int Index, const std::wstring& S);
  void Delete(int Index);

 private:
  std::vector<std::wstring> FItems;
};

// An ordered list of UTF-16 strings: duplicates stay, nothing is sorted, a string may be empty
// or hold zero characters. Storage is the subclasses'.
class TUnicodeStrings : public TObject {
 public:
  ~TUnicodeStrings() override = default;

  virtual bool AssignTo(TObject* Dest);
  // Another TUnicodeStrings or a TStringList: cleared and refilled inside one update bracket.
  // Anything else goes to Source's AssignTo; when neither knows the other, an error.
  virtual void Assign(TObject* Source);
  virtual int ReadCapacity() const { return ReadCount(); }
  virtual void WriteCapacity(int Value) { (void)Value; }
  virtual int ReadCount() const = 0;
  virtual std::wstring Get(int Index) const = 0;
  virtual void Put(int Index, const std::wstring& S) = 0;
  virtual void NoteChanged();
  virtual void NoteChanging();
  virtual int Add(const std::wstring& S);
  // The highest index holding exactly S, or -1.
  virtual int IndexOf(const std::wstring& S) const;
  virtual void Insert(int Index, const std::wstring& S) = 0;
  virtual void Clear() = 0;
  virtual void Delete(int Index) = 0;
  virtual void Exchange(int Index1, int Index2);
  virtual void Move(int CurIndex, int NewIndex);

  void BeginUpdate();
  void EndUpdate();

  int Count() const { return ReadCount(); }
  std::wstring operator[](int Index) const { return Get(Index); }
  std::wstring Strings(int Index) const { return Get(Index); }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  int FUpdateCount = 0;
};

class TUnicodeStringList : public TUnicodeStrings {
 public:
  int ReadCapacity() const override { return static_cast<int>(FStrings.size()); }
  void WriteCapacity(int Value) override;
  int ReadCount() const override { return FCount; }
  std::wstring Get(int Index) const override;
  void Put(int Index, const std::wstring& S) override;
  void Insert(int Index, const std::wstring& S) override;
  void Clear() override;
  void Delete(int Index) override;

 private:
  void CheckIndex(int Index, int Limit) const;
  void Grow();
  std::vector<std::wstring> FStrings;  // size is the capacity
  int FCount = 0;
};

// A TStringList seen as TUnicodeStrings; every operation goes to the list.
class TUnicodeStringsAdapter : public TUnicodeStrings {
 public:
  explicit TUnicodeStringsAdapter(TStringList* AStrings) : FStrings(AStrings) {}
  int ReadCount() const override { return FStrings->Count(); }
  std::wstring Get(int Index) const override { return (*FStrings)[Index]; }
  void Put(int Index, const std::wstring& S) override { (*FStrings)[Index] = S; }
  void Insert(int Index, const std::wstring& S) override { FStrings->Insert(Index, S); }
  void Clear() override { FStrings->Clear(); }
  void Delete(int Index) override { FStrings->Delete(Index); }

 private:
  TStringList* FStrings;
};

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
  bool Wide() const { return FWide; }

 private:
  TUnicodeStringList FFiles;
  bool FWide = true;  // only the write side uses it
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
