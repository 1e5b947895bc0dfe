#include "ProductFiles.h"

#include <system_error>

#include "JobHost.h"
#include "TextCodec.h"

namespace fs = std::filesystem;

// Native paths are bytes, carried as UTF-8 with stray bytes kept; Windows paths are UTF-16.
fs::path ProductFsPath(const std::wstring& path) {
#if defined(_WIN32)
  return fs::path(path);
#else
  return fs::path(ToUtf8(path));
#endif
}

std::wstring ProductWidePath(const fs::path& path) {
#if defined(_WIN32)
  return path.wstring();
#else
  return FromUtf8(path.string());
#endif
}

namespace {
std::vector<std::wstring> Children(const std::wstring& folder, bool folders) {
  std::vector<std::wstring> names;
  if (folder.empty()) return names;
  std::error_code error;
  for (fs::directory_iterator it(ProductFsPath(folder), error), end; !error && it != end; it.increment(error)) {
    std::error_code kind;
    const fs::file_status status = fs::status(it->path(), kind);
    if (kind) continue;
    if (folders ? fs::is_directory(status) : fs::is_regular_file(status))
      names.push_back(ProductWidePath(it->path().filename()));
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

void ReportProductFailure(JobHost& host, const std::wstring& text) {
  host.SetStatusText(text);
  host.Beep();
  host.ShowModalMessage(host.GetStatusText());
}

void ShowProductNote(JobHost& host, const TProductBand& band) {
  if (band.Note.empty()) return;
  host.SetStatusText(band.Note);
  host.RepaintNow();
}

TProductBusy::TProductBusy(JobHost& host) : FHost(host), FCursor(host.BeginBusyCursor()) {}
TProductBusy::~TProductBusy() {
  try {
    FHost.RestoreCursor(FCursor);
  } catch (...) {
  }
}
