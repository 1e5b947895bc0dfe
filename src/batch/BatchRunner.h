// Runs a batch's jobs, each as a process of the console tool on the job's one input, so that a
// crash or a runaway job ends that job alone, the peak memory of each is measured, and a job in
// a batch is exactly the job run by hand.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "JobPlan.h"
#include "JobReport.h"

class TBatchObserver {
 public:
  virtual ~TBatchObserver() = default;
  virtual void JobStarted(size_t k) = 0;
  // The stage a running job last reported (its last progress line).
  virtual void JobStage(size_t k, const std::wstring& stage) = 0;
  virtual void JobEnded(size_t k, const TJobRecord& record) = 0;
  // Called between polls, some ten times a second while jobs run.
  virtual void Tick() = 0;
};

struct TBatchRun {
  std::wstring Program;  // the console tool itself
  TJobSettings Settings;
  unsigned Slots = 1;          // jobs at once
  unsigned DecodeThreads = 1;  // of each job, for its memory estimate
};

// The arguments a job's process is started with.
std::vector<std::wstring> JobArguments(const TBatchJob& job, const TJobSettings& settings);

// What a job's process left: its record from its exit, its stdout (the job's messages) and the
// tool's own complaints on its stderr.
TJobRecord RecordOfProcess(const TPlannedJob& job, int exitCode, const std::wstring& abnormal,
                           const std::string& out, const std::string& err);

// Runs jobs in their order; returns how many never started because the batch was interrupted.
size_t RunBatchJobs(const std::vector<TPlannedJob>& jobs, const TBatchRun& run, TBatchObserver& observer);
