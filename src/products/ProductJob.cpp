#include "ProductJob.h"

#include <system_error>

#include "ImageFiles.h"
#include "ProductFiles.h"
#include "ProductZip.h"
#include "TextCodec.h"

namespace fs = std::filesystem;

namespace {
// The folder that holds a file; "." for a bare name.
std::wstring FolderOf(const std::wstring& path) {
  const std::wstring folder = path.substr(0, path.size() - FileNamePart(path).size());
  return folder.empty() ? L"." : folder;
}

TProductBand FindForPath(const std::wstring& path, const TProductRequest& request) {
  TFolderListing listing;
  std::error_code error;
  const fs::file_status status = fs::status(FsPath(path), error);
  if (error) return {};
  if (fs::is_directory(status)) return FindProductBand(listing, path, request);
  if (fs::is_regular_file(status) && IsProductMetadataName(FileNamePart(path))) {
    const std::wstring root = FolderOf(path);
    if (IsProductRoot(listing, root)) return FindProductBand(listing, root, request);
  }
  return {};
}

TJobOutcome Fail(JobHost& host, const std::wstring& text) {
  TBusyCursor busy(host);
  Announce(host, text, false);
  return TJobOutcome::NotStarted;
}

TJobOutcome Process(JobHost& host, const std::wstring& path, const TProductRequest& request,
                    const TJobOptions& options) {
  if (IsZipName(path) && IsExistingFile(path)) return ProcessProductZip(host, path, request, options);
  const TProductBand band = FindForPath(path, request);
  switch (band.Find) {
    case TProductFind::Found: {
      ShowProductNote(host, band);
      // A dropped band that is not JPEG 2000 is ignored; a product's is worth a word.
      const TJobOutcome outcome = RunCompositeJob(host, band.Band, {}, options);
      if (outcome != TJobOutcome::NotJpeg2000) return outcome;
      return Fail(host, producttext::kNotJpeg2000 + FileNamePart(band.Band));
    }
    case TProductFind::NoBands: return Fail(host, jobtext::kMissing);
    case TProductFind::NoSuchResolution: return Fail(host, producttext::kNoResolution);
    case TProductFind::SeveralTiles: return Fail(host, producttext::kSeveralTiles);
    case TProductFind::MissingBand: return Fail(host, producttext::kBandMissing + FileNamePart(band.Band));
    case TProductFind::Ambiguous: return Fail(host, producttext::kBandAmbiguous + FileNamePart(band.Band));
    case TProductFind::NotAProduct: break;
  }
  return RunCompositeJob(host, path, {}, options);
}
}  // namespace

TJobOutcome ProcessDroppedPath(JobHost& host, const std::wstring& path, const TProductRequest& request,
                               const TJobOptions& options) noexcept {
  try {
    const std::wstring name = path;
    return Process(host, name, request, options);
  } catch (...) {
    // Out of memory while listing a folder, or a host that failed: say so, as the job does.
    try {
      Announce(host, jobtext::kFailed + FileNamePart(path), false);
    } catch (...) {
    }
    return TJobOutcome::Failed;
  }
}

void ShowProductNote(JobHost& host, const TProductBand& band) {
  if (band.Note.empty()) return;
  host.SetStatusText(band.Note);
  host.RepaintNow();
}

bool IsProductPath(const std::wstring& path) {
  if (IsZipName(path)) return IsExistingFile(path);
  return FindForPath(path, {}).Find != TProductFind::NotAProduct;
}

std::wstring ProductBandFile(const std::wstring& path, const TProductRequest& request) {
  if (IsZipName(path)) return {};
  const TProductBand band = FindForPath(path, request);
  return band.Find == TProductFind::Found ? band.Band : std::wstring();
}
