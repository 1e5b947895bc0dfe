// A batch before it runs: every input turned into jobs, each job once, in the order of their
// paths, with the files each writes; and the reasons the batch cannot run as asked.
#pragma once
#include <string>
#include <vector>

#include "BatchJob.h"
#include "JobOutputs.h"

struct TPlannedJob {
  TBatchJob Job;
  TJobFiles Files;
};

struct TJobPlan {
  std::vector<TPlannedJob> Jobs;
  std::wstring UsageError;             // why the batch cannot run; empty when it can
  std::vector<std::wstring> Warnings;  // folders that could not be searched
};

// inputs as named (and read from --from). A named input that does not exist, a named file that
// is no band file, product or zip (isJpeg2000 tells band files from others by their content),
// product options with a named band file, and two jobs that would write one file are usage
// errors; so is a batch in which no input gave a job.
TJobPlan PlanJobs(const std::vector<std::wstring>& inputs, const TJobSettings& settings, bool productOptionsGiven,
                  bool (*isJpeg2000)(const std::wstring& path));

// A path as the file system knows it, for telling two names of one file: absolute, normalised,
// links resolved where they exist, and on Windows in one letter case.
std::wstring PathIdentity(const std::wstring& path);
