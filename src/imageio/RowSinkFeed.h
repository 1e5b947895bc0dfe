// A whole picture held in memory, handed to a row sink in runs of rows, with the caller's
// keep-alive and progress (in rows) between the runs, on the calling thread.
#pragma once
#include "RowSink.h"
#include "WorkCallbacks.h"

// Puts every row and finishes the sink; false when either fails.
bool PutWholePicture(TRowSink& sink, const TRowView& rows, const TWorkCallbacks& callbacks);
