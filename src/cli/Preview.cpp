#include "Preview.h"

#include "CompositeJob.h"
#include "ConsoleHost.h"
#include "ImageFiles.h"
#include "OutputExtras.h"
#include "ProductJob.h"
#include "Quicklook.h"

int WritePreviewOnly(const std::wstring& path, const TProductRequest& product, const TPreviewRequest& request) {
  // The checks the composite job makes before it starts, with the console tool's answers.
  const std::wstring band = IsProductPath(path) ? ProductBandFile(path, product) : path;
  if (!band.empty()) {
    if (!IsExistingFile(band)) {
      WriteLine(stderr, L"bandweave-cli: no such file: " + path);
      return 2;
    }
    if (GetImageFileType(band) != FIF_JP2) {
      WriteLine(stderr, L"bandweave-cli: not a JPEG 2000 file: " + band);
      return 2;
    }
    if (!DeriveBandNames(band).Started) {
      WriteLine(stderr, std::wstring(L"bandweave-cli: ") + jobtext::kMissing);
      return 1;
    }
  }
  TExtraOutputs extras;
  extras.Quicklook = true;
  extras.WorldFile = request.WorldFile;
  extras.Reduce = request.Reduce;
  // As a TIFF's: no side files for a composite that is not written.
  if (!WriteExtraOutputs(path, product, 1, extras)) return 1;
  WriteLine(stdout, QuicklookName(OutputName(DeriveBandNames(band), SaveFormatOf(request.SaveFormat))));
  return 0;
}
