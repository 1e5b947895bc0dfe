#include "CompositeSink.h"

#include "PngWriter.h"
#include "TiffWriter.h"

std::unique_ptr<TRowSink> OpenCompositeSink(TSaveFormat format, TOutputFile& file, uint32_t width, uint32_t height,
                                            const TImageMetadata& metadata, unsigned workers) {
  switch (format) {
    case TSaveFormat::Png: return OpenPngSink(file, width, height, metadata, workers);
    case TSaveFormat::Tiff: return OpenTiffSink(file, width, height, metadata, workers);
    default: return nullptr;
  }
}
