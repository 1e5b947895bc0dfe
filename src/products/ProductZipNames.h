// A zip's entry names, read before anything is unpacked: the ones that are unsafe, and the
// product tree they describe.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "ProductLayout.h"

// An entry name that could reach outside the folder it is unpacked into, or that no Windows
// folder can hold: absolute, a drive, "..", a colon, a control character.
bool IsUnsafeEntryName(const std::wstring& name);

// The listing of a zip's entry names, folders implied by the paths in them.
class TZipListing : public TProductListing {
 public:
  explicit TZipListing(const std::vector<std::wstring>& entryNames);
  std::vector<std::wstring> Folders(const std::wstring& folder) const override;
  std::vector<std::wstring> Files(const std::wstring& folder) const override;
  wchar_t Separator() const override { return L'/'; }
  // The listing's path of an entry: no empty or "." parts, no trailing '/'.
  static std::wstring Normalised(const std::wstring& entryName);

 private:
  std::vector<std::pair<std::wstring, std::wstring>> FFolders, FFiles;  // (parent, name)
};
