// The string lists dropped names arrive in: TUnicodeStrings (and its storage,
// TUnicodeStringList) and the plain TStringList the 8-bit map format fills.
#pragma once
#include <string>
#include <vector>

#include "Classes.h"

// Raises the lists' error for an index out of range.
[[noreturn]] void ListIndexError(int Index);

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
