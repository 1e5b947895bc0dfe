#include "MaskSource.h"

#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {
// R60m -> IMG_DATA -> the granule: the granule is at most this many folders above a band.
constexpr int kFoldersAboveToGranule = 3;

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}
bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
bool IsDigits(const std::string& text, size_t at, size_t count) {
  if (at + count > text.size()) return false;
  for (size_t k = at; k < at + count; ++k)
    if (text[k] < '0' || text[k] > '9') return false;
  return true;
}

bool IsFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// The folders that may hold the band's mask, nearest first: the band's own, and when a
// granule (a folder holding IMG_DATA or QI_DATA) lies above it, the granule's resolution
// folders, the granule itself and its QI_DATA. Never above the granule, whose parent holds
// other granules' masks.
std::vector<fs::path> SearchFolders(const fs::path& bandFolder) {
  std::vector<fs::path> folders{bandFolder};
  fs::path folder = bandFolder;
  for (int up = 0; up <= kFoldersAboveToGranule; ++up) {
    if (IsFolder(folder / "IMG_DATA") || IsFolder(folder / "QI_DATA")) {
      for (const fs::path& inside : {folder / "IMG_DATA" / "R20m", folder / "IMG_DATA" / "R60m",
                                     folder / "IMG_DATA", folder, folder / "QI_DATA"})
        if (inside != bandFolder && IsFolder(inside)) folders.push_back(inside);
      break;
    }
    if (!folder.has_relative_path()) break;
    folder = folder.parent_path();
  }
  return folders;
}

// The files of folder whose upper-cased name ends with suffix and starts with prefix.
std::vector<fs::path> FilesEndingWith(const fs::path& folder, const std::string& prefix, const std::string& suffix) {
  std::vector<fs::path> found;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = Upper(it->path().filename().u8string());
    if (EndsWith(name, suffix) && name.compare(0, prefix.size(), prefix) == 0 && it->is_regular_file(error))
      found.push_back(it->path());
  }
  return found;
}
}  // namespace

std::string TileDatePrefix(const std::string& fileName) {
  // T + two digits + three letters, "_", eight digits, "T", six digits, "_".
  const std::string name = Upper(fileName);
  if (name.size() < 23 || name[0] != 'T' || !IsDigits(name, 1, 2) || name[6] != '_' || !IsDigits(name, 7, 8) ||
      name[15] != 'T' || !IsDigits(name, 16, 6) || name[22] != '_')
    return {};
  return fileName.substr(0, 23);
}

TMaskSource FindMaskSource(const fs::path& bandFile) {
  TMaskSource source;
  std::error_code error;
  const fs::path band = fs::absolute(bandFile, error);
  const fs::path bandFolder = (error ? bandFile : band).parent_path();
  const std::vector<fs::path> folders = SearchFolders(bandFolder);
  const std::string prefix = Upper(TileDatePrefix(bandFile.filename().u8string()));

  // The finer classification first: a 60 m composite is masked from the 20 m classes too.
  // Without a tile and date in the band's name only a single candidate is taken for certain.
  for (const char* suffix : {"SCL_20M.JP2", "SCL_60M.JP2"}) {
    for (const fs::path& folder : folders) {
      const std::vector<fs::path> found = FilesEndingWith(folder, prefix, suffix);
      if (found.size() == 1 || (!prefix.empty() && !found.empty())) {
        source.Kind = TMaskKind::SceneClassification;
        source.File = found.front();
        return source;
      }
    }
  }
  for (const fs::path& folder : folders) {
    const std::vector<fs::path> found = FilesEndingWith(folder, "MSK_CLASSI_B00.JP2", "MSK_CLASSI_B00.JP2");
    if (!found.empty()) {
      source.Kind = TMaskKind::CloudClassification;
      source.File = found.front();
      return source;
    }
  }
  source.Why = "no cloud mask for " + bandFile.filename().u8string() + ": neither a scene classification (" +
               (prefix.empty() ? std::string("..._") : TileDatePrefix(bandFile.filename().u8string())) +
               "SCL_20m.jp2 or _SCL_60m.jp2) nor MSK_CLASSI_B00.jp2 in " +
               (folders.size() > 1 ? "its folder or its granule" : "its folder");
  return source;
}
