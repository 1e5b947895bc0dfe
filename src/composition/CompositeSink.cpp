#include "CompositeSink.h"

#include "CogWriter.h"
#include "PngWriter.h"
#include "TiffWriter.h"

std::unique_ptr<TRowSink> OpenCompositeSink(TSaveFormat format, TOutputFile& file, const std::filesystem::path& target,
                                            uint32_t width, uint32_t height, const TImageMetadata& metadata,
                                            unsigned workers) {
  switch (format) {
    case TSaveFormat::Png: return OpenPngSink(file, width, height, metadata, workers);
    case TSaveFormat::Tiff: return OpenTiffSink(file, width, height, metadata, workers);
    case TSaveFormat::Cog: return OpenCogSink(file, target, width, height, metadata, workers);
    default: return nullptr;
  }
}
