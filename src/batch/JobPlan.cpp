#include "JobPlan.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "CompositeJob.h"
#include "JobSearch.h"
#include "TextCodec.h"

namespace fs = std::filesystem;

namespace {
// The same job reached twice: its band set (the red band) or, for a zip and a job whose bands
// are not known, its input.
std::wstring JobIdentity(const TPlannedJob& planned) {
  if (planned.Job.Kind != TJobKind::Zip && planned.Files.Bands.Started) return PathIdentity(planned.Files.Bands.Red);
  return PathIdentity(planned.Job.Input);
}

bool HasLineBreak(const std::wstring& path) { return path.find_first_of(L"\r\n") != std::wstring::npos; }
}  // namespace

std::wstring PathIdentity(const std::wstring& path) {
  std::error_code error;
  fs::path full = fs::weakly_canonical(FsPath(path), error);
  if (error) full = fs::absolute(FsPath(path), error).lexically_normal();
  const std::wstring text = WidePath(full);
#if defined(_WIN32)
  return AsciiUpper(text);
#else
  return text;
#endif
}

TJobPlan PlanJobs(const std::vector<std::wstring>& inputs, const TJobSettings& settings, bool productOptionsGiven,
                  bool (*isJpeg2000)(const std::wstring& path)) {
  TJobPlan plan;
  std::vector<TBatchJob> jobs;
  for (const std::wstring& input : inputs) {
    // Every job goes into a line of --list, which --from reads back.
    if (HasLineBreak(input)) {
      plan.UsageError = L"a line break in a name: " + input;
      return plan;
    }
    std::error_code error;
    const fs::file_status status = fs::status(FsPath(input), error);
    if (!fs::exists(status)) {
      plan.UsageError = L"no such file: " + input;
      return plan;
    }
    if (IsFolderToSearch(input)) {
      TSearchResult found = SearchFolder(input, settings.Product);
      jobs.insert(jobs.end(), found.Jobs.begin(), found.Jobs.end());
      plan.Warnings.insert(plan.Warnings.end(), found.Unreadable.begin(), found.Unreadable.end());
      continue;
    }
    const TJobKind kind = JobKindOf(input);
    if (kind == TJobKind::BandFile) {
      if (!isJpeg2000(input)) {
        plan.UsageError = L"not a JPEG 2000 file: " + input;
        return plan;
      }
      if (productOptionsGiven) {
        plan.UsageError = L"--false-colour and --resolution apply to products (.SAFE, metadata file, granule, "
                          L"IMG_DATA, .zip), not to " + input;
        return plan;
      }
    }
    jobs.push_back({input, kind});
  }

  // In the order of their paths, whatever order they were named or listed in; of one job
  // reached twice the first in that order.
  std::stable_sort(jobs.begin(), jobs.end(), [](const TBatchJob& a, const TBatchJob& b) { return a.Input < b.Input; });
  std::map<std::wstring, size_t> seen;
  for (const TBatchJob& job : jobs) {
    if (HasLineBreak(job.Input)) {
      plan.Warnings.push_back(L"passed over, a line break in its name: " + job.Input);
      continue;
    }
    TPlannedJob planned{job, JobFiles(job, settings)};
    if (seen.emplace(JobIdentity(planned), plan.Jobs.size()).second) plan.Jobs.push_back(std::move(planned));
  }
  if (plan.Jobs.empty()) {
    plan.UsageError = L"no band files, products or product zips found";
    return plan;
  }

  // Two jobs, one file: refused before anything is written.
  std::map<std::wstring, size_t> writers;
  for (size_t k = 0; k < plan.Jobs.size(); ++k) {
    std::vector<std::wstring> outputs = plan.Jobs[k].Files.SideFiles;
    if (!plan.Jobs[k].Files.Composite.empty()) outputs.push_back(plan.Jobs[k].Files.Composite);
    for (const std::wstring& output : outputs) {
      const auto [at, added] = writers.emplace(PathIdentity(output), k);
      if (added || at->second == k) continue;
      plan.UsageError = plan.Jobs[at->second].Job.Input + L" and " + plan.Jobs[k].Job.Input +
                        L" would both write " + output;
      return plan;
    }
  }
  return plan;
}
