// The 48-bit composite as a PNG: 16-bit RGB, one zlib stream built from runs of rows that are
// filtered and deflated on workers independently and joined at full-flush boundaries.
#pragma once
#include <memory>

#include "ImageMetadata.h"
#include "OutputFile.h"
#include "RowSink.h"
#include "WorkCallbacks.h"

// A sink that writes the file as the rows come (Put them top to bottom, then Finish); the
// signature and header are written at once. Null when the picture is empty or too large for
// PNG, or the header cannot be written. The file must outlive the sink. workers 0 means one
// per core; the bytes written are the same for any count and any way the rows are cut into
// Put calls.
std::unique_ptr<TRowSink> OpenPngSink(TOutputFile& file, uint32_t width, uint32_t height,
                                      const TImageMetadata& metadata, unsigned workers = 0);

// A whole picture at once, through the sink, with the callbacks between runs of rows.
// Writes the whole file; false when the picture is empty, memory runs out or any write fails.
// workers 0 means one per core; the bytes written are the same for any count. Of the
// metadata only the description is written (a "Description" text chunk).
bool WritePng48(TOutputFile& file, const TRowView& rows, const TImageMetadata& metadata,
                const TWorkCallbacks& callbacks, unsigned workers = 0);
