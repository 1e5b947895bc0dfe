#include "DragDropStrings.h"

#include <cxxabi.h>

#include <cstdlib>
#include <stdexcept>
#include <typeinfo>

#include "DragDrop.h"

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

}  // namespace

void ListIndexError(int Index) {
  throw std::out_of_range(DragDropFormat("List index out of bounds (%d)", Index));
}

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

// 
