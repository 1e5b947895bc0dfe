#include "BatchRunner.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

#include "AreaWindow.h"
#include "BatchPlatform.h"
#include "CompositeJob.h"
#include "JobMemory.h"
#include "JobPool.h"
#include "TempFile.h"
#include "TextCodec.h"

namespace fs = std::filesystem;

namespace {
constexpr std::chrono::milliseconds kPollInterval(25);
const char* const kToolPrefix = "bandweave-cli: ";

std::wstring Widen(const std::string& text) { return FromUtf8(text); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A folder of its own for the jobs' output files, gone with the object.
class TScratchFolder {
 public:
  TScratchFolder() {
    std::random_device random;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    for (int attempt = 0; !error && attempt < 64 && FPath.empty(); ++attempt) {
      const fs::path candidate = base / ("bandweave-batch-" + std::to_string(random()));
      if (fs::create_directory(candidate, error)) FPath = candidate;
      else if (error && error != std::errc::file_exists) break;
      error.clear();
    }
  }
  ~TScratchFolder() {
    std::error_code ignored;
    if (!FPath.empty()) fs::remove_all(FPath, ignored);
  }
  const fs::path& Path() const { return FPath; }

 private:
  fs::path FPath;
};

// What a masked job said on stderr ("masked: 41.73 % of pixels"), as a fraction.
std::optional<double> MaskedFractionOf(const std::string& err) {
  for (const std::string& line : Lines(err)) {
    double percent = 0;
    char rest[16] = {};
    if (std::sscanf(line.c_str(), "masked: %lf %% of %15s", &percent, rest) == 2 && std::string(rest) == "pixels")
      return percent / 100;
  }
  return std::nullopt;
}

// One running job: its process, its two output files and how far its stderr has been read.
struct TRunning {
  batchPlatform::TChildProcess Process;
  fs::path Out, Err;
  std::uintmax_t ErrRead = 0;
  std::wstring Stage;
  std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
};

// The last whole line added to a job's stderr since the last look.
bool NewStage(TRunning& job) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(job.Err, error);
  if (error || size <= job.ErrRead) return false;
  std::ifstream in(job.Err, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(job.ErrRead));
  std::string added(static_cast<size_t>(size - job.ErrRead), '\0');
  in.read(added.data(), static_cast<std::streamsize>(added.size()));
  added.resize(static_cast<size_t>(in.gcount()));
  const size_t end = added.find_last_of('\n');
  if (end == std::string::npos) return false;
  job.ErrRead += end + 1;
  const std::vector<std::string> lines = Lines(added.substr(0, end + 1));
  if (lines.empty()) return false;
  job.Stage = Widen(lines.back());
  return true;
}
}  // namespace

std::vector<std::wstring> JobArguments(const TBatchJob& job, const TJobSettings& settings) {
  std::vector<std::wstring> arguments;
  for (const std::string& argument : settings.DisplayArguments) arguments.push_back(Widen(argument));
  for (const std::string& argument : settings.OutputArguments) arguments.push_back(Widen(argument));
  if (job.Kind != TJobKind::BandFile)
    for (const std::string& argument : settings.ProductArguments) arguments.push_back(Widen(argument));
  for (const std::string& argument : settings.AreaArguments) arguments.push_back(Widen(argument));
  if (!settings.OutFolder.empty()) {
    arguments.push_back(L"--out");
    arguments.push_back(settings.OutFolder);
  }
  // The input after "--": a name that starts with a dash is a name.
  arguments.push_back(L"--");
  arguments.push_back(job.Input);
  return arguments;
}

TJobRecord RecordOfProcess(const TPlannedJob& job, int exitCode, const std::wstring& abnormal, const std::string& out,
                           const std::string& err) {
  TJobRecord record;
  record.Input = job.Job.Input;
  record.Output = job.Files.Composite.empty() ? job.Job.Input : job.Files.Composite;
  record.Status = abnormal.empty() && exitCode == 0 ? TJobStatus::Written : TJobStatus::Failed;
  if (record.Status == TJobStatus::Written) {
    record.MaskedFraction = MaskedFractionOf(err);
    return record;
  }
  // A tile the area of interest misses is passed over, not failed (a zip's is known only here).
  const std::string outside = NoOverlapMessage("");
  if (abnormal.empty() && exitCode == 1)
    for (const std::string& line : Lines(out))
      if (line.rfind(outside, 0) == 0) {
        record.Status = TJobStatus::Skipped;
        record.Message = Widen(line);
        return record;
      }
  const auto add = [&record](const std::wstring& text) {
    record.Message += (record.Message.empty() ? L"" : L"; ") + text;
  };
  for (const std::string& line : Lines(out)) {
    const std::wstring text = Widen(line);
    if (text != jobtext::kPngComplete && text != jobtext::kTifComplete) add(text);
  }
  for (const std::string& line : Lines(err))
    if (line.rfind(kToolPrefix, 0) == 0) add(Widen(line.substr(std::string(kToolPrefix).size())));
  if (!abnormal.empty()) add(abnormal);
  if (record.Message.empty()) add(L"ended with exit status " + std::to_wstring(exitCode));
  return record;
}

size_t RunBatchJobs(const std::vector<TPlannedJob>& jobs, const TBatchRun& run, TBatchObserver& observer) {
  TScratchFolder scratch;
  // The polygons as the batch read them, for every job: a file edited meanwhile changes nothing.
  TJobSettings settings = run.Settings;
  if (settings.Area && settings.Area->Kind == TAreaKind::Polygons && !scratch.Path().empty()) {
    const fs::path copy = scratch.Path() / "area.geojson";
    if (WriteWholeFile(copy, AreaGeoJson(*settings.Area))) settings.AreaArguments = {"--aoi", ToUtf8(WidePath(copy))};
  }
  std::vector<std::unique_ptr<TRunning>> running(jobs.size());
  std::vector<uint64_t> estimates;
  for (const TPlannedJob& job : jobs) estimates.push_back(EstimateJobMemory(job, settings, run.DecodeThreads));
  bool interruptSent = false;

  const auto fail = [&](size_t k, const std::wstring& why) {
    TJobRecord record = RecordOfProcess(jobs[k], 1, why, {}, {});
    observer.JobEnded(k, record);
  };
  TJobPoolCalls calls;
  calls.Start = [&](size_t k) {
    if (scratch.Path().empty()) {
      fail(k, L"cannot make a folder for the job's output in the temporary folder");
      return false;
    }
    auto job = std::make_unique<TRunning>();
    job->Out = scratch.Path() / ("job-" + std::to_string(k) + ".out");
    job->Err = scratch.Path() / ("job-" + std::to_string(k) + ".err");
    std::string why;
    if (!job->Process.Start(run.Program, JobArguments(jobs[k].Job, settings), WidePath(job->Out),
                            WidePath(job->Err), why)) {
      fail(k, L"cannot start the job: " + Widen(why));
      return false;
    }
    running[k] = std::move(job);
    observer.JobStarted(k);
    return true;
  };
  calls.Wait = [&]() {
    std::this_thread::sleep_for(kPollInterval);
    if (batchPlatform::Interrupted() && !interruptSent) {
      interruptSent = true;
      for (auto& job : running)
        if (job) job->Process.Interrupt();
    }
    std::vector<size_t> ended;
    for (size_t k = 0; k < running.size(); ++k) {
      TRunning* job = running[k].get();
      if (!job) continue;
      if (NewStage(*job)) observer.JobStage(k, job->Stage);
      batchPlatform::TChildExit exit;
      if (!job->Process.Poll(exit)) continue;
      std::wstring abnormal = exit.Abnormal;
      if (interruptSent && (exit.Code != 0 || !abnormal.empty())) abnormal = L"interrupted";
      TJobRecord record = RecordOfProcess(jobs[k], exit.Code, abnormal, ReadAll(job->Out), ReadAll(job->Err));
      record.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - job->Start).count();
      record.PeakMemoryBytes = exit.PeakMemoryBytes;
      running[k].reset();
      observer.JobEnded(k, record);
      ended.push_back(k);
    }
    observer.Tick();
    return ended;
  };
  calls.Refuse = fail;
  calls.AvailableMemory = batchPlatform::AvailableMemoryBytes;
  calls.Stopping = batchPlatform::Interrupted;
  return RunJobPool(estimates, run.Slots, calls);
}
