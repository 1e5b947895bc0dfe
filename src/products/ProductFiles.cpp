#include "ProductFiles.h"

#include <system_error>

#include "TextCodec.h"

namespace fs = std::filesystem;

namespace {
std::vector<std::wstring> Children(const std::wstring& folder, bool folders) {
  std::vector<std::wstring> names;
  if (folder.empty()) return names;
  std::error_code error;
  for (fs::directory_iterator it(FsPath(folder), error), end; !error && it != end; it.increment(error)) {
    std::error_code kind;
    const fs::file_status status = fs::status(it->path(), kind);
    if (kind) continue;
    if (folders ? fs::is_directory(status) : fs::is_regular_file(status))
      names.push_back(WidePath(it->path().filename()));
  }
  return names;
}
}  // namespace

std::vector<std::wstring> TFolderListing::Folders(const std::wstring& folder) const { return Children(folder, true); }
std::vector<std::wstring> TFolderListing::Files(const std::wstring& folder) const { return Children(folder, false); }

wchar_t TFolderListing::Separator() const {
#if defined(_WIN32)
  return L'\\';
#else
  return L'/';
#endif
}
