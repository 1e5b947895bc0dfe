#include "DragDropPIDL.h"

#include <cstring>

#include "DropParsers.h"

size_t PIDLSize(LPCITEMIDLIST Item) {
  if (!Item) return 0;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(Item);
  size_t size = 0;
  for (;;) {
    uint16_t cb;
    std::memcpy(&cb, p + size, sizeof cb);
    if (cb == 0) return size + 2;
    size += cb;
  }
}

TPIDLList::~TPIDLList() { Clear(); }

void TPIDLList::Add(LPCITEMIDLIST Item) {
  if (!Item) return;
  const size_t size = PIDLSize(Item);
  auto* copy = static_cast<LPITEMIDLIST>(CoTaskMemAlloc(size));
  if (!copy) throw std::bad_alloc();
  std::memcpy(copy, Item, size);
  if (OnChanging) OnChanging(this);
  FList.push_back(copy);
}

void TPIDLList::Clear() {
  if (FList.empty()) return;
  if (OnChanging) OnChanging(this);
  for (LPITEMIDLIST p : FList) CoTaskMemFree(p);
  FList.clear();
}

LPCITEMIDLIST TPIDLList::GetItem(int Index) const {
  if (Index < 0 || Index >= Count()) ListIndexError(Index);
  return FList[static_cast<size_t>(Index)];
}

std::string TPIDLList::GetString(int Index) const {
  LPCITEMIDLIST item = GetItem(Index);
  return std::string(reinterpret_cast<const char*>(item), PIDLSize(item));
}

std::wstring TPIDLsToFilenamesStrings::Get(int Index) const {
  if (Index < 0 || Index >= Count()) throw std::out_of_range("Filename index out of range");
  const std::string parent = FPIDLs->GetString(0);
  const std::string item = FPIDLs->GetString(Index + 1);
  std::vector<uint8_t> absolute = dropparsers::JoinIdLists(
      reinterpret_cast<const uint8_t*>(parent.data()), parent.size(),
      reinterpret_cast<const uint8_t*>(item.data()), item.size());
  auto pidl = reinterpret_cast<PCIDLIST_ABSOLUTE>(absolute.data());
  // Long paths too: the classic call stops at MAX_PATH.
  std::wstring path(32768, L'\0');
  if (!SHGetPathFromIDListEx(pidl, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) {
    path.assign(MAX_PATH + 1, L'\0');
    if (!SHGetPathFromIDListW(pidl, path.data())) return {};
  }
  path.resize(wcsnlen(path.c_str(), path.size()));
  return path;
}

void TPIDLsToFilenamesStrings::Put(int, const std::wstring&) {
  throw EDragDropError("TPIDLsToFilenamesStrings is read-only");
}

TPIDLClipboardFormat::TPIDLClipboardFormat() { CreateWithMedia(kMedia); }

CLIPFORMAT TPIDLClipboardFormat::GetClipboardFormat() {
  static CLIPFORMAT id = 0;
  return RegisteredClipboardFormat(id, CFSTR_SHELLIDLIST);
}

bool TPIDLClipboardFormat::LoadBytes(const uint8_t* Buffer, int32_t Size) {
  FPIDLs.Clear();
  std::vector<dropparsers::IdListSpan> spans;
  dropparsers::ParseCida(Buffer, Size > 0 ? static_cast<size_t>(Size) : 0, spans);
  // Each span was measured inside the block, so the copy's own walk stays inside too.
  for (const auto& s : spans) FPIDLs.Add(reinterpret_cast<LPCITEMIDLIST>(Buffer + s.offset));
  return FPIDLs.Count() > 1;
}
