#include "Preview.h"

#include "CompositeJob.h"
#include "ConsoleHost.h"
#include "ImageFiles.h"
#include "JobOutputs.h"
#include "OutputExtras.h"
#include "ProductJob.h"

int WritePreviewOnly(const TBatchJob& job, const TJobSettings& settings) {
  // The checks the composite job makes before it starts, with the console tool's answers.
  const std::wstring band =
      job.Kind == TJobKind::Product ? ProductBandFile(job.Input, settings.Product) : job.Input;
  if (job.Kind != TJobKind::Zip && !band.empty()) {
    if (!IsExistingFile(band)) {
      ToolError(L"no such file: " + job.Input);
      return 2;
    }
    if (GetImageFileType(band) != FIF_JP2) {
      ToolError(L"not a JPEG 2000 file: " + band);
      return 2;
    }
    if (!DeriveBandNames(band).Started) {
      ToolError(jobtext::kMissing);
      return 1;
    }
  }
  if (!WriteExtraOutputs(job, settings)) return 1;
  WriteLine(stdout, JobFiles(job, settings).Composite);
  return 0;
}
