// The one place where a save format becomes a writer: every way of making the composite (the
// whole Composite at once, or row by row from the stream) opens its writer here.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>

#include "ImageMetadata.h"
#include "OutputFile.h"
#include "RowSink.h"
#include "SaveFormat.h"

// A row sink writing the composite of width x height in format into file, whose final name is
// target (the COG's spill file goes beside it); null for a format without a writer or a picture
// the format cannot hold. workers 0: one per core.
std::unique_ptr<TRowSink> OpenCompositeSink(TSaveFormat format, TOutputFile& file, const std::filesystem::path& target,
                                            uint32_t width, uint32_t height, const TImageMetadata& metadata,
                                            unsigned workers = 0);
