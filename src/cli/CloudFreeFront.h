// The console side of --cloud-free: every planned job's band set is one date of the picture.
#pragma once
#include "CliOptions.h"
#include "JobPlan.h"

// Writes the one cloud-free picture (and its quicklook and side files when asked for). The exit
// status: 0 written, 1 failed, 2 when the inputs cannot make one picture as asked.
int RunCloudFreeJobs(const TJobPlan& plan, const TCliOptions& options);
