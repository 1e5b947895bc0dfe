// A product tree on disk as a listing.
#pragma once
#include <string>
#include <vector>

#include "ProductLayout.h"

// A folder on disk. Files are regular files or links to one; FIFOs and devices are left out.
class TFolderListing : public TProductListing {
 public:
  std::vector<std::wstring> Folders(const std::wstring& folder) const override;
  std::vector<std::wstring> Files(const std::wstring& folder) const override;
  wchar_t Separator() const override;
};
