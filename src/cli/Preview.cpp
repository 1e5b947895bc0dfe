#include "Preview.h"

#include "AreaCrop.h"
#include "CompositeJob.h"
#include "ConsoleHost.h"
#include "ImageFiles.h"
#include "JobOutputs.h"
#include "OutputExtras.h"
#include "ProductJob.h"
#include "ProductZip.h"
#include "Quicklook.h"

int WritePreviewOnly(ConsoleHost& host, const TBatchJob& job, const TJobSettings& settings) {
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
  const TJobFiles files = JobFiles(job, settings);
  // An area that misses the tile: said as the composite job says it, and nothing written.
  if (!files.Outside.empty()) {
    WriteLine(stdout, files.Outside);
    return 1;
  }
  const std::string software = JobSoftware(job.Kind, settings);
  std::wstring preview = files.Composite;
  if (job.Kind == TJobKind::Zip) {
    // A zip's bands are read where they are unpacked, and go once the preview is made; its
    // refusals are told through the host, as its composite job's are.
    const TJobOutcome outcome =
        WithUnpackedZipBands(host, job.Input, settings.Product, [&](const std::wstring& firstBand, const std::wstring&) {
          const TBandNames names = DeriveBandNames(firstBand);
          // A crop's name takes its window, known only now that the bands can be read.
          if (settings.Area) {
            const TAreaPlacement placed = PlaceArea(*settings.Area, names, settings.CompositeReduce());
            if (placed.Kind != TAreaPlacement::Inside) {
              WriteLine(stdout, placed.Message);
              return TJobOutcome::Failed;
            }
            TBandNames named = files.Bands;
            named.WindowTag = WindowNameTag(placed.Window);
            preview = QuicklookName(CompositeName(named, settings));
          }
          return WriteExtraOutputs(names, preview, settings, software) ? TJobOutcome::Saved : TJobOutcome::Failed;
        });
    if (outcome != TJobOutcome::Saved) return 1;
  } else {
    if (files.Composite.empty()) {
      // With an area, the bands were found but cannot be cropped: the reason is the area's.
      ToolError(settings.Area && files.Bands.Started
                    ? PlaceArea(*settings.Area, files.Bands, settings.CompositeReduce()).Message
                    : L"no band set to write a quicklook or side files for");
      return 1;
    }
    if (!WriteExtraOutputs(files.Bands, files.Composite, settings, software)) return 1;
  }
  WriteLine(stdout, preview);
  return 0;
}
