// A product's .zip, read without the user unpacking it: its three bands are unpacked into a
// fresh folder beside the zip, the job runs on them and writes beside the zip, and the folder
// goes on every way out.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "CompositeJob.h"
#include "JobHost.h"
#include "ProductLayout.h"

bool IsZipName(const std::wstring& path);

TJobOutcome ProcessProductZip(JobHost& host, const std::wstring& zipPath, const TProductRequest& request);

// No Sentinel-2 band comes near this (a 10 m band is some 100 MB to 250 MB); an entry that
// claims more is refused before anything is written.
constexpr uint64_t kMaxBandEntryBytes = uint64_t(1) << 30;

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
