#include "JobSearch.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "CompositeJob.h"
#include "ImageFiles.h"
#include "ProductJob.h"
#include "ProductZip.h"
#include "TextCodec.h"

namespace fs = std::filesystem;

namespace {
#if defined(_WIN32)
const wchar_t* const kSeparator = L"\\";
#else
const wchar_t* const kSeparator = L"/";
#endif

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && SameNameNoCase(text.substr(0, prefix.size()), prefix);
}

// Ours: a save's temporary file, a zip's unpacked bands.
bool IsOwnTemporary(const std::wstring& name) {
  return StartsWithNoCase(name, L".bw-") || StartsWithNoCase(name, L".bandweave-");
}

// Whether a loose band file starts a set the request wants.
bool WantedBandSet(const TBandNames& names, const TProductRequest& request) {
  if (!names.Started) return false;
  const std::wstring code = AsciiUpper(names.BandToken.substr(0, 3));
  const bool falseColourSet = code == L"B08" || code == L"B8A";
  if (falseColourSet != request.FalseColour) return false;
  if (request.Metres != 0 && names.BandToken.size() > 7) {
    const std::wstring metres = L"_" + std::to_wstring(request.Metres) + L"m";
    if (!SameNameNoCase(names.BandToken.substr(3, 4), metres)) return false;
  }
  return true;
}

// A zip that opens and plainly holds no product is not ours to report.
bool IsOtherZip(const std::wstring& path, const TProductRequest& request) {
  std::wstring failure;
  return ZipStartBand(path, request, &failure).empty() &&
         failure == producttext::kZipNoProduct + FileNamePart(path);
}

struct TEntry {
  std::wstring Name;
  fs::file_status Status;
  bool Link = false;
};

void Search(const std::wstring& folder, const TProductRequest& request, TSearchResult& result) {
  std::vector<TEntry> entries;
  std::error_code error;
  fs::directory_iterator it(FsPath(folder), error), end;
  for (; !error && it != end; it.increment(error)) {
    TEntry entry;
    entry.Name = WidePath(it->path().filename());
    entry.Link = it->is_symlink(error);
    entry.Status = it->status(error);
    error.clear();  // a dangling link is passed over below, not a reason to stop
    entries.push_back(entry);
  }
  if (error) {
    result.Unreadable.push_back(folder + L": " + FromUtf8(error.message()));
    return;
  }
  // Sorted by name, so the band met first, and the order of the jobs, never vary.
  std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) { return a.Name < b.Name; });
  const std::wstring prefix = FileNamePart(folder).empty() ? folder : folder + kSeparator;
  std::set<std::wstring> sets;  // red bands of the sets started in this folder
  for (const TEntry& entry : entries) {
    if (IsOwnTemporary(entry.Name)) continue;
    const std::wstring path = prefix + entry.Name;
    if (fs::is_directory(entry.Status)) {
      if (IsProductPath(path)) result.Jobs.push_back({path, TJobKind::Product});
      else if (!entry.Link && !SameNameNoCase(entry.Name, L"QI_DATA")) Search(path, request, result);
      continue;
    }
    if (!fs::is_regular_file(entry.Status)) continue;
    if (IsZipName(entry.Name)) {
      if (!IsOtherZip(path, request)) result.Jobs.push_back({path, TJobKind::Zip});
      continue;
    }
    if (!EndsWithNoCase(entry.Name, L".jp2") || StartsWithNoCase(entry.Name, L"MSK_")) continue;
    const TBandNames names = DeriveBandNames(path);
    if (WantedBandSet(names, request) && sets.insert(AsciiUpper(names.Red)).second)
      result.Jobs.push_back({path, TJobKind::BandFile});
  }
}
}  // namespace

TJobKind JobKindOf(const std::wstring& path) {
  if (IsZipName(path) && IsExistingFile(path)) return TJobKind::Zip;
  return IsProductPath(path) ? TJobKind::Product : TJobKind::BandFile;
}

bool IsFolderToSearch(const std::wstring& path) {
  std::error_code error;
  return fs::is_directory(FsPath(path), error) && !IsProductPath(path);
}

TSearchResult SearchFolder(const std::wstring& folder, const TProductRequest& request) {
  TSearchResult result;
  Search(folder, request, result);
  return result;
}
