// "Shell IDList Array": the shell's item ID lists of the dropped items, and their paths.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "DragDropFormats.h"
#include "DragDropStrings.h"

// Item ID lists, each a private copy owned by the list and released with CoTaskMemFree.
class TPIDLList : public TObject {
 public:
  ~TPIDLList() override;
  // Stores a copy of Item; a null item is ignored.
  void Add(LPCITEMIDLIST Item);
  void Clear();
  int Count() const { return static_cast<int>(FList.size()); }
  LPCITEMIDLIST GetItem(int Index) const;
  // The whole ID list, its 2-byte terminator included.
  std::string GetString(int Index) const;

  TNotifyEvent OnChanging;

 private:
  std::vector<LPITEMIDLIST> FList;
};

// Byte size of a trusted ID list (items plus terminator), walked like the shell walks it.
size_t PIDLSize(LPCITEMIDLIST Item);

// A read-only view of a TPIDLList as the paths of its items (the first list being their
// parent folder). Items outside the file system give empty strings.
class TPIDLsToFilenamesStrings : public TUnicodeStrings {
 public:
  explicit TPIDLsToFilenamesStrings(TPIDLList* APIDLs) : FPIDLs(APIDLs) {}
  int ReadCount() const override { return FPIDLs->Count() > 1 ? FPIDLs->Count() - 1 : 0; }
  std::wstring Get(int Index) const override;
  void Put(int Index, const std::wstring& S) override;
  void Insert(int, const std::wstring&) override {}
  void Clear() override {}
  void Delete(int) override {}

 private:
  TPIDLList* FPIDLs;
};

class TPIDLClipboardFormat : public TCustomSimpleClipboardFormat {
  DRAGDROP_CLIPBOARD_CLASS(TPIDLClipboardFormat, TCustomSimpleClipboardFormat)
 public:
  TPIDLClipboardFormat();
  CLIPFORMAT GetClipboardFormat() override;
  bool LoadBytes(const uint8_t* Buffer, int32_t Size) override;
  void Clear() override { FPIDLs.Clear(); }
  bool HasData() override { return FPIDLs.Count() > 0; }
  TPIDLList& PIDLs() { return FPIDLs; }
  TUnicodeStrings& Filenames() { return FFilenames; }

 private:
  TPIDLList FPIDLs;
  TPIDLsToFilenamesStrings FFilenames{&FPIDLs};
};
