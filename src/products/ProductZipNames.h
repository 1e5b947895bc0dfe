// A zip's entry names, read before anything is unpacked: the ones that are unsafe, and the
// product tree they describe.
#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "ProductLayout.h"

// An entry name that could reach outside the folder it is unpacked into, or that no Windows
// folder can hold: absolute, a drive, "..", a colon, a control character.
bool IsUnsafeEntryName(const std::wstring& name);

// The listing of a zip's entry names, folders implied by the paths in them. Indexed once by
// folder, so that a zip of 100 000 folders answers each question by its own children alone.
class TZipListing : public TProductListing {
 public:
  explicit TZipListing(const std::vector<std::wstring>& entryNames);
  std::vector<std::wstring> Folders(const std::wstring& folder) const override;
  std::vector<std::wstring> Files(const std::wstring& folder) const override;
  wchar_t Separator() const override { return L'/'; }
  // The listing's path of an entry: no empty or "." parts, no trailing '/'.
  static std::wstring Normalised(const std::wstring& entryName);
  // How many names the answers so far have looked at: the measure of the listing's work.
  size_t NamesExamined() const { return FExamined; }

 private:
  using TIndex = std::map<std::wstring, std::vector<std::wstring>>;  // folder -> children, sorted
  std::vector<std::wstring> Children(const TIndex& index, const std::wstring& folder) const;
  TIndex FFolders, FFiles;
  mutable size_t FExamined = 0;
};

// The product a zip holds: the .SAFE folder at its top, or the product's content at its root.
// NotAProduct when there is none, SeveralTiles when there are several.
TProductBand FindZipProduct(const TZipListing& listing, const TProductRequest& request);
