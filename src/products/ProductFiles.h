// The products layer's contact with the file system: wide paths to and from std::filesystem,
// and a product tree on disk as a listing.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ProductLayout.h"

std::filesystem::path ProductFsPath(const std::wstring& path);
std::wstring ProductWidePath(const std::filesystem::path& path);

// A folder on disk. Files are regular files or links to one; FIFOs and devices are left out.
class TFolderListing : public TProductListing {
 public:
  std::vector<std::wstring> Folders(const std::wstring& folder) const override;
  std::vector<std::wstring> Files(const std::wstring& folder) const override;
  wchar_t Separator() const override;
};

// Reports a product failure the way the job reports missing sources: status line, one beep,
// the same text in a message box.
class JobHost;
void ReportProductFailure(JobHost& host, const std::wstring& text);

// A product's note (a finer resolution passed over) on the status line before the job starts.
struct TProductBand;
void ShowProductNote(JobHost& host, const TProductBand& band);

// The busy cursor from construction to destruction, however the scope is left.
class TProductBusy {
 public:
  explicit TProductBusy(JobHost& host);
  ~TProductBusy();
  TProductBusy(const TProductBusy&) = delete;
  TProductBusy& operator=(const TProductBusy&) = delete;

 private:
  JobHost& FHost;
  intptr_t FCursor;
};
