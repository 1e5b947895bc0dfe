#include "CloudFreeFront.h"

#include <cstdio>

#include "CloudFreeJob.h"
#include "ConsoleHost.h"
#include "FreeImageSession.h"
#include "OutputExtras.h"
#include "OutputMetadata.h"
#include "Quicklook.h"
#include "TempFileRegistry.h"

namespace {
std::wstring Percent(uint64_t part, uint64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0);
  return std::wstring(text, text + std::char_traits<char>::length(text));
}
}  // namespace

int RunCloudFreeJobs(const TJobPlan& plan, const TCliOptions& options) {
  if (options.List || !options.Report.empty())
    return UsageError(L"--cloud-free makes one picture: --list and --report go with batches");
  const TJobSettings& settings = options.Job;
  TCloudFreeRequest request;
  for (const TPlannedJob& job : plan.Jobs) {
    if (job.Job.Kind == TJobKind::Zip)
      return UsageError(L"--cloud-free takes unpacked products, not zips: " + job.Job.Input);
    request.Bands.push_back(job.Files.Bands.Red);
  }
  request.Classes = settings.Mask ? *settings.Mask : TMaskClasses::Default();
  request.Format = settings.Format;
  request.OutFolder = settings.OutFolder;
  request.Quicklook = settings.Quicklook;
  request.Reduce = settings.Reduce;
  request.Area = settings.Area.get();
  std::wstring why;
  if (!settings.OutFolder.empty() && !MakeOutputFolder(settings.OutFolder, why)) return UsageError(why);

  RemoveTempFilesOnInterrupt();
  FreeImageSession images;
  WriteLine(stderr, L"Cloud-free picture of " + std::to_wstring(request.Bands.size()) + L" dates");
  TWorkCallbacks callbacks;
  const TCloudFreeResult result = RunCloudFree(request, callbacks);
  if (!result.Written) {
    ToolError(result.Error);
    WriteLine(stdout, L"Failed to make the cloud-free picture: " + result.Error);
    return 1;
  }
  WriteLine(stderr, L"no clear date: " + Percent(result.EmptyPixels, result.Pixels) + L" % of pixels");
  bool ok = true;
  for (const std::wstring& note : result.Notes) WriteLine(stderr, L"Quicklook: " + note);
  if (request.Quicklook) {
    if (result.Quicklook.empty()) {
      ToolError(L"no quicklook written: " + result.QuicklookError);
      ok = false;
    } else {
      WriteLine(stderr, L"Quicklook: " + result.Quicklook);
    }
  }
  if (settings.WorldFile && result.Grid) {
    if (settings.Format == TSaveFormat::Png) ok = WriteGridSideFiles(result.Output, *result.Grid) && ok;
    if (!result.Quicklook.empty()) {
      const std::optional<TGridGeoreference> reduced = ReducedGrid(*result.Grid, settings.Reduce);
      if (reduced) ok = WriteGridSideFiles(result.Quicklook, *reduced) && ok;
    }
  }
  WriteLine(stdout, L"Cloud-free picture written: " + result.Output);
  return ok ? 0 : 1;
}
