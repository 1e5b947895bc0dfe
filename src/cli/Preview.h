// --preview: only the 8-bit quicklook, decoded straight at the resolution asked for, with no
// 48-bit composite made or written.
#pragma once
#include "BatchJob.h"
#include "ConsoleHost.h"

// For one job of the console tool (a band file or a product). Says on stderr what it wrote, or
// why not, and on stdout the preview's name. Returns the tool's exit status: 0 written, 1 not
// written, 2 no such file or not JPEG 2000. A zip's refusals are told through host.
int WritePreviewOnly(ConsoleHost& host, const TBatchJob& job, const TJobSettings& settings);
