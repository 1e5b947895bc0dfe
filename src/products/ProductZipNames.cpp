#include "ProductZipNames.h"

#include <set>

bool IsUnsafeEntryName(const std::wstring& name) {
  if (name.empty() || name[0] == L'/' || name[0] == L'\\') return true;
  for (wchar_t c : name)
    if (c < 0x20 || c == L':') return true;  // a colon: a drive, or a stream of a file on Windows
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = name.find_first_of(L"/\\", start);
    const std::wstring part = name.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (part == L"..") return true;
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return false;
}

std::wstring TZipListing::Normalised(const std::wstring& entryName) {
  std::wstring path;
  size_t start = 0;
  while (start <= entryName.size()) {
    size_t end = entryName.find(L'/', start);
    if (end == std::wstring::npos) end = entryName.size();
    const std::wstring part = entryName.substr(start, end - start);
    if (!part.empty() && part != L".") path += (path.empty() ? L"" : L"/") + part;
    start = end + 1;
  }
  return path;
}

TZipListing::TZipListing(const std::vector<std::wstring>& entryNames) {
  std::set<std::pair<std::wstring, std::wstring>> folders, files;
  for (const std::wstring& entry : entryNames) {
    const bool folderEntry = !entry.empty() && entry.back() == L'/';
    const std::wstring path = Normalised(entry);
    std::wstring parent;
    size_t start = 0;
    while (!path.empty()) {
      const size_t end = path.find(L'/', start);
      if (end == std::wstring::npos) {
        (folderEntry ? folders : files).insert({parent, path.substr(start)});
        break;
      }
      folders.insert({parent, path.substr(start, end - start)});
      parent = path.substr(0, end);
      start = end + 1;
    }
  }
  // The sets are in (parent, name) order: each folder's children arrive together and sorted.
  for (const auto& [parent, name] : folders) FFolders[parent].push_back(name);
  for (const auto& [parent, name] : files) FFiles[parent].push_back(name);
}

std::vector<std::wstring> TZipListing::Children(const TIndex& index, const std::wstring& folder) const {
  const auto found = index.find(folder);
  if (found == index.end()) return {};
  FExamined += found->second.size();
  return found->second;
}

std::vector<std::wstring> TZipListing::Folders(const std::wstring& folder) const { return Children(FFolders, folder); }
std::vector<std::wstring> TZipListing::Files(const std::wstring& folder) const { return Children(FFiles, folder); }

TProductBand FindZipProduct(const TZipListing& listing, const TProductRequest& request) {
  std::wstring root;
  if (!IsProductRoot(listing, root)) {
    std::vector<std::wstring> roots;
    for (const std::wstring& folder : listing.Folders(root))
      if (IsProductRoot(listing, folder)) roots.push_back(folder);
    if (roots.empty()) return {};
    if (roots.size() > 1) return {TProductFind::SeveralTiles, {}, 0};
    root = roots.front();
  }
  return FindProductBand(listing, root, request);
}
