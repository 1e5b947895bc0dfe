// What the console tool writes besides the composite when asked: a world file and GDAL's
// .aux.xml beside a PNG, and a quicklook.
#pragma once
#include "BatchJob.h"

// After the job's composite was saved. Says on stderr what it wrote and why it wrote less;
// false when something asked for could not be written.
bool WriteExtraOutputs(const TBatchJob& job, const TJobSettings& settings);
