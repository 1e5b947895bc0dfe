// The console side of a batch: the inputs from the command line and --from, one line a job on
// stdout, progress on stderr (one bar on a terminal, a line as each job starts and ends into a
// file or pipe), the report and the summary.
#pragma once
#include "CliOptions.h"

// The exit status: 0 no job failed, 1 some failed, 2 the batch could not run as asked, 128 and
// the signal when interrupted.
int RunBatch(const TCliOptions& options);
