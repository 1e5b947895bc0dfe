// bandweave-cli: the composite job from the command line, for one tile or a whole archive.
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "BatchFront.h"
#include "CliOptions.h"
#include "CompositionPlatform.h"
#include "ConsoleHost.h"
#include "FreeImageSession.h"
#include "JobOutputs.h"
#include "JobReport.h"
#include "JobSearch.h"
#include "OutputExtras.h"
#include "Preview.h"
#include "ProductJob.h"
#include "BatchPlatform.h"
#include "TempFileRegistry.h"
#include "TextCodec.h"
#include "qelUtils.h"

namespace {
// Whether the user chose the decoding threads, before the tool fills in its own default.
bool ThreadsFromEnvironment() {
  const char* set = std::getenv("OPJ_NUM_THREADS");
  return set && *set;
}

// One input that is not a folder to search: the job runs here and reports as it always has.
bool IsSingleJob(const TCliOptions& options) {
  if (!options.From.empty() || options.List || options.Inputs.size() != 1) return false;
  return !IsFolderToSearch(FromUtf8(options.Inputs[0]));
}

// What the job said, for its report: its messages but the one that says it succeeded, then the
// tool's own complaints.
std::wstring JobMessage(const ConsoleHost& host) {
  std::wstring message;
  const auto add = [&message](const std::wstring& text) { message += (message.empty() ? L"" : L"; ") + text; };
  for (const std::wstring& text : host.Messages())
    if (text != jobtext::kPngComplete && text != jobtext::kTifComplete) add(text);
  for (const std::wstring& text : ToolErrors()) add(text);
  return message;
}

int RunSingle(const TCliOptions& options) {
  const std::wstring input = FromUtf8(options.Inputs[0]);
  const TBatchJob job{input, JobKindOf(input)};
  // A band file chooses by its own name; the options would be silently ignored there.
  if (options.ProductGiven && job.Kind == TJobKind::BandFile)
    return UsageError(L"--false-colour and --resolution apply to products (.SAFE, metadata file, granule, IMG_DATA, .zip)");
  std::wstring why;
  if (!options.Job.OutFolder.empty() && !MakeOutputFolder(options.Job.OutFolder, why)) return UsageError(why);
  TJobReport report;
  if (!options.Report.empty() && !report.Open(FromUtf8(options.Report), why)) return UsageError(why);
  if (options.Threads > 0)
    compositionPlatform::SetEnvironment("OPJ_NUM_THREADS", std::to_string(options.Threads).c_str());

  // Ctrl-C, a closed console or a kill during a save must not leave the half-written file.
  RemoveTempFilesOnInterrupt();
  qelUtilsInitialize();
  const TJobClock clock;
  const TJobSettings& settings = options.Job;
  const int format = settings.Format == TSaveFormat::Png ? 0 : 1;
  int status = 1;
  bool written = false;
  std::wstring message;
  TJobOptions jobOptions;
  jobOptions.Reduce = settings.CompositeReduce();
  jobOptions.CloudOptimised = settings.Cog;
  jobOptions.Area = settings.Area.get();
  std::optional<double> maskedFraction;
  if (settings.Preview) {
    FreeImageSession images;
    ConsoleHost host(format, false);
    host.SetOutputs(settings.OutFolder, JobSoftware(job.Kind, settings));
    status = WritePreviewOnly(host, job, settings);
    written = status == 0;
    message = JobMessage(host);
  } else {
    FreeImageSession images;
    ConsoleHost host(format, options.Beep, options.Times);
    host.SetOutputs(settings.OutFolder, JobSoftware(job.Kind, settings));
    host.SetMaskClasses(settings.Mask);
    // Made while the bands are still there: a zip's are unpacked only for its job.
    bool extrasWritten = false;
    host.OnCompositeSaved([&](const TBandNames& names, const std::wstring& composite) {
      extrasWritten = WriteExtraOutputs(names, composite, settings, JobSoftware(job.Kind, settings));
    });
    switch (ProcessDroppedPath(host, input, settings.Product, jobOptions)) {
      case TJobOutcome::Saved:
        written = extrasWritten;
        status = written ? 0 : 1;
        break;
      case TJobOutcome::NoSuchFile:
        ToolError(L"no such file: " + input);
        status = 2;
        break;
      case TJobOutcome::NotJpeg2000:
        ToolError(L"not a JPEG 2000 file: " + input);
        status = 2;
        break;
      default: status = 1; break;
    }
    message = JobMessage(host);
    maskedFraction = host.MaskedFraction();
  }
  qelUtilsFinalize();
  if (report.IsOpen()) {
    TJobRecord record;
    record.Input = input;
    const std::wstring composite = JobFiles(job, settings).Composite;
    record.Output = composite.empty() ? input : composite;
    record.Status = written ? TJobStatus::Written : TJobStatus::Failed;
    record.Message = written ? std::wstring() : message;
    record.Seconds = clock.Seconds();
    record.PeakMemoryBytes = batchPlatform::PeakMemoryOfThisProcess();
    record.MaskedFraction = maskedFraction;
    if (!report.Append(record, why)) {
      WriteLine(stderr, L"bandweave-cli: " + why);
      if (status == 0) status = 1;
    }
  }
  return status;
}

int Run(const std::vector<std::string>& args, bool threadsFromEnvironment) {
  TCliOptions options;
  const int parsed = ParseCommandLine(args, options);
  if (parsed >= 0) return parsed;
  options.ThreadsFromEnvironment = threadsFromEnvironment;
  if (!options.Out.empty()) options.Job.OutFolder = FolderWithDelimiter(FromUtf8(options.Out));
  // A cloud-free picture takes every input's dates at once, as a batch reads them.
  if (IsSingleJob(options) && !options.Job.CloudFree) return RunSingle(options);
  return RunBatch(options);
}
}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
  const bool threadsFromEnvironment = ThreadsFromEnvironment();
  UseAllCoresForJpeg2000();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(ToUtf8(argv[i]));
  return Run(args, threadsFromEnvironment);
}
#else
int main(int argc, char** argv) {
  const bool threadsFromEnvironment = ThreadsFromEnvironment();
  UseAllCoresForJpeg2000();
  return Run(std::vector<std::string>(argv + 1, argv + argc), threadsFromEnvironment);
}
#endif
