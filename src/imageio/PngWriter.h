// The 48-bit composite as a PNG: 16-bit RGB, one zlib stream built from runs of rows that are
// filtered and deflated on workers independently and joined at full-flush boundaries.
#pragma once
#include "ImageMetadata.h"
#include "OutputFile.h"
#include "RowView.h"
#include "WorkCallbacks.h"

// Writes the whole file; false when the picture is empty, memory runs out or any write fails.
// workers 0 means one per core; the bytes written are the same for any count. Of the
// metadata only the description is written (a "Description" text chunk).
bool WritePng48(TOutputFile& file, const TRowView& rows, const TImageMetadata& metadata,
                const TWorkCallbacks& callbacks, unsigned workers = 0);
