// Whether a job's work is already done: its composite and every side file asked for exist, are
// newer than each of its sources, and the composite records the options this run would make it
// with. Reads file times and the composite's header only, never a band.
#pragma once
#include <string>

#include "JobOutputs.h"

bool IsUpToDate(const TJobFiles& files, const std::string& software);
