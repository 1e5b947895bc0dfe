// The 48-bit composite as a TIFF: RGB, 16 bits per sample, strips of many rows, each strip
// deflate-compressed (Adobe deflate, code 8) on its own worker and written in order.
#pragma once
#include <memory>

#include "ImageMetadata.h"
#include "OutputFile.h"
#include "RowSink.h"
#include "WorkCallbacks.h"

// A sink that writes the file as the rows come (Put them top to bottom, then Finish); null when
// the picture is empty or the header cannot be set up. The file must outlive the sink.
// workers 0 means one per core; the bytes written are the same for any count and any way the
// rows are cut into Put calls.
std::unique_ptr<TRowSink> OpenTiffSink(TOutputFile& file, uint32_t width, uint32_t height,
                                       const TImageMetadata& metadata, unsigned workers = 0);

// A whole picture at once, through the sink, with the callbacks between runs of rows.
// Writes the whole file; false when the picture is empty, memory runs out or any write fails.
// workers 0 means one per core; the bytes written are the same for any count.
bool WriteTiff48(TOutputFile& file, const TRowView& rows, const TImageMetadata& metadata,
                 const TWorkCallbacks& callbacks, unsigned workers = 0);
