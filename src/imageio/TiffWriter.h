// The 48-bit composite as a TIFF: RGB, 16 bits per sample, strips of many rows, each strip
// deflate-compressed (Adobe deflate, code 8) on its own worker and written in order.
#pragma once
#include "ImageMetadata.h"
#include "OutputFile.h"
#include "RowView.h"
#include "WorkCallbacks.h"

// Writes the whole file; false when the picture is empty, memory runs out or any write fails.
// workers 0 means one per core; the bytes written are the same for any count.
bool WriteTiff48(TOutputFile& file, const TRowView& rows, const TImageMetadata& metadata,
                 const TWorkCallbacks& callbacks, unsigned workers = 0);
