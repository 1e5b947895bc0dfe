#include "BatchFront.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "BatchPlatform.h"
#include "BatchRunner.h"
#include "CompositionPlatform.h"
#include "CloudFreeFront.h"
#include "ConsoleHost.h"
#include "FreeImageSession.h"
#include "ImageFiles.h"
#include "JobPlan.h"
#include "JobReport.h"
#include "Resume.h"
#include "TextCodec.h"

namespace {
constexpr int kBarWidth = 24;
constexpr std::chrono::milliseconds kRedrawInterval(200);

bool IsJpeg2000(const std::wstring& path) { return GetImageFileType(path) == FIF_JP2; }

// --from: one input a line; blank lines and lines starting with # are not inputs.
bool ReadInputList(const std::string& from, std::vector<std::wstring>& inputs, std::wstring& why) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (from != "-") {
    file.open(FsPath(FromUtf8(from)), std::ios::binary);
    if (!file) {
      why = L"cannot read " + FromUtf8(from);
      return false;
    }
    in = &file;
  }
  std::string line;
  while (std::getline(*in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    inputs.push_back(FromUtf8(line));
  }
  return true;
}

std::wstring Clock(double seconds) {
  const long whole = static_cast<long>(seconds + 0.5);
  wchar_t text[32];
  if (whole >= 3600) std::swprintf(text, 32, L"%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  else std::swprintf(text, 32, L"%ld:%02ld", whole / 60, whole % 60);
  return text;
}

std::wstring Seconds(double seconds) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%.1f", seconds);
  return text;
}

// Lines on stdout, progress on stderr, records in the report.
class TConsoleBatch : public TBatchObserver {
 public:
  // clock: started with the batch, before its search.
  TConsoleBatch(const std::vector<TPlannedJob>& jobs, size_t total, size_t skipped, TJobReport& report,
                const TJobClock& clock)
      : FJobs(jobs), FTotal(total), FDone(skipped), FReport(report), FBar(StderrIsTerminal()), FClock(clock) {}
  ~TConsoleBatch() override { ClearBar(); }

  void Line(const TJobRecord& record) {
    std::wstring line = FromUtf8(StatusWord(record.Status)) + L"\t" + record.Output;
    if (record.Status == TJobStatus::Failed || !record.Message.empty()) line += L"\t" + record.Message;
    ClearBar();
    WriteLine(stdout, line);
    std::wstring why;
    if (FReport.IsOpen() && !FReport.Append(record, why) && !FReportFailed) {
      FReportFailed = true;
      WriteLine(stderr, L"bandweave-cli: " + why);
    }
    Count(record.Status);
  }

  void JobStarted(size_t k) override {
    if (!FBar) WriteLine(stderr, L"started (" + Number(k) + L") " + FJobs[k].Job.Input);
  }
  void JobStage(size_t, const std::wstring& stage) override { FStage = stage; }
  void JobEnded(size_t k, const TJobRecord& record) override {
    ++FDone;
    ++FRan;
    if (!FBar)
      WriteLine(stderr, FromUtf8(StatusWord(record.Status)) + L" (" + Number(k) + L") in " + Seconds(record.Seconds) +
                            L" s " + FJobs[k].Job.Input);
    Line(record);
    Tick();
  }
  void Tick() override {
    if (!FBar) return;
    const auto now = std::chrono::steady_clock::now();
    if (!FDrawn.empty() && now - FDrawnAt < kRedrawInterval) return;
    DrawBar(now);
  }

  void Count(TJobStatus status) {
    if (status == TJobStatus::Written) ++FWritten;
    else if (status == TJobStatus::Skipped) ++FSkipped;
    else ++FFailed;
  }
  size_t Written() const { return FWritten; }
  size_t Skipped() const { return FSkipped; }
  size_t Failed() const { return FFailed; }
  double Elapsed() const { return FClock.Seconds(); }
  void ClearBar() {
    if (FDrawn.empty()) return;
    WriteText(stderr, L"\r" + std::wstring(FDrawn.size(), L' ') + L"\r");
    FDrawn.clear();
  }

 private:
  // "3 of 8": the job's place among those that run.
  std::wstring Number(size_t k) const { return std::to_wstring(k + 1) + L" of " + std::to_wstring(FJobs.size()); }

  // "[=======>        ] 3/8  Processing green  0:42, about 1:10 left"
  void DrawBar(std::chrono::steady_clock::time_point now) {
    const double fraction = FTotal ? static_cast<double>(FDone) / static_cast<double>(FTotal) : 1;
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::wstring bar = L"[";
    for (int i = 0; i < kBarWidth; ++i) bar += i < filled ? L'=' : i == filled ? L'>' : L' ';
    bar += L"] " + std::to_wstring(FDone) + L"/" + std::to_wstring(FTotal);
    std::wstring stage = FStage.substr(0, 40);
    bar += L"  " + stage + std::wstring(40 - stage.size(), L' ');
    const double elapsed = Elapsed();
    bar += L"  " + Clock(elapsed);
    if (FRan > 0 && FDone < FTotal) {
      const double perJob = elapsed / static_cast<double>(FRan);
      bar += L", about " + Clock(perJob * static_cast<double>(FTotal - FDone)) + L" left";
    }
    // Each bar covers the last: pad to its width.
    if (bar.size() < FDrawn.size()) bar += std::wstring(FDrawn.size() - bar.size(), L' ');
    WriteText(stderr, L"\r" + bar);
    FDrawn = bar;
    FDrawnAt = now;
  }

  const std::vector<TPlannedJob>& FJobs;
  size_t FTotal, FDone;
  TJobReport& FReport;
  bool FBar;
  bool FReportFailed = false;
  size_t FRan = 0;
  size_t FWritten = 0, FSkipped = 0, FFailed = 0;
  std::wstring FStage;
  std::wstring FDrawn;
  std::chrono::steady_clock::time_point FDrawnAt;
  const TJobClock& FClock;
};

unsigned DecodeThreads(const TCliOptions& options) {
  if (options.Threads > 0) return options.Threads;
  if (options.ThreadsFromEnvironment) {
    const char* set = std::getenv("OPJ_NUM_THREADS");
    const int threads = set ? std::atoi(set) : 0;
    if (threads > 0) return static_cast<unsigned>(threads);
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return std::max(1u, cores / std::max(1u, options.Jobs));
}
}  // namespace

int RunBatch(const TCliOptions& options) {
  const TJobClock clock;
  std::vector<std::wstring> inputs;
  for (const std::string& input : options.Inputs) inputs.push_back(FromUtf8(input));
  std::wstring why;
  if (!options.From.empty() && !ReadInputList(options.From, inputs, why)) return UsageError(why);
  if (inputs.empty()) return UsageError(L"no inputs in " + FromUtf8(options.From));
  const TJobSettings& settings = options.Job;

  TJobPlan plan;
  {
    FreeImageSession images;  // tells named band files from other files by their content
    plan = PlanJobs(inputs, settings, options.ProductGiven, IsJpeg2000);
  }
  for (const std::wstring& warning : plan.Warnings) WriteLine(stderr, L"bandweave-cli: " + warning);
  if (!plan.UsageError.empty()) return UsageError(plan.UsageError);
  if (settings.CloudFree) return RunCloudFreeJobs(plan, options);

  std::vector<TPlannedJob> toRun;
  std::vector<const TPlannedJob*> skipped;
  for (const TPlannedJob& job : plan.Jobs) {
    // A tile the area of interest misses has nothing to write, forced or not.
    if (!job.Files.Outside.empty()) skipped.push_back(&job);
    else if (!options.Force && IsUpToDate(job.Files, JobSoftware(job.Job.Kind, settings))) skipped.push_back(&job);
    else toRun.push_back(job);
  }
  if (options.List) {
    for (const TPlannedJob& job : toRun) WriteLine(stdout, job.Job.Input);
    return 0;
  }

  if (!settings.OutFolder.empty() && !MakeOutputFolder(settings.OutFolder, why)) return UsageError(why);
  TJobReport report;
  if (!options.Report.empty() && !report.Open(FromUtf8(options.Report), why)) return UsageError(why);
  const unsigned threads = DecodeThreads(options);
  compositionPlatform::SetEnvironment("OPJ_NUM_THREADS", std::to_string(threads).c_str());

  batchPlatform::CatchInterrupts();
  TConsoleBatch console(toRun, plan.Jobs.size(), skipped.size(), report, clock);
  for (const TPlannedJob* job : skipped) {
    TJobRecord record;
    record.Input = job->Job.Input;
    record.Output = job->Files.Composite.empty() ? job->Job.Input : job->Files.Composite;
    record.Status = TJobStatus::Skipped;
    record.Message = job->Files.Outside;
    console.Line(record);
  }
  TBatchRun run;
  run.Program = batchPlatform::OwnExecutable();
  run.Settings = settings;
  run.Slots = options.Jobs;
  run.DecodeThreads = threads;
  RunBatchJobs(toRun, run, console);
  console.ClearBar();

  WriteLine(stderr, std::to_wstring(console.Written()) + L" written, " + std::to_wstring(console.Skipped()) +
                        L" skipped, " + std::to_wstring(console.Failed()) + L" failed in " +
                        Seconds(console.Elapsed()) + L" s");
  if (batchPlatform::Interrupted()) return batchPlatform::InterruptedStatus();
  return console.Failed() > 0 ? 1 : 0;
}
