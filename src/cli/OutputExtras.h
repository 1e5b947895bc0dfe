// What the console tool writes besides the composite when asked: a world file and GDAL's
// .aux.xml beside a PNG, and a quicklook.
#pragma once
#include <string>

#include "BatchJob.h"
#include "Georeference.h"

// After the job's composite was saved. Says on stderr what it wrote and why it wrote less;
// false when something asked for could not be written.
// A world file and GDAL's .aux.xml beside png, placing it on grid; false when either could not
// be written (said on stderr).
bool WriteGridSideFiles(const std::wstring& png, const TGridGeoreference& grid);

bool WriteExtraOutputs(const TBatchJob& job, const TJobSettings& settings);
