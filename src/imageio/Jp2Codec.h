// One OpenJPEG decoder over one open file: codec, stream and the image its header describes,
// strict about truncated data, collecting the library's first error message.
#pragma once
#include <openjpeg.h>

#include <string>

#include "Jp2Header.h"
#include "Jp2File.h"

class TJp2Codec {
 public:
  TJp2Codec() = default;
  ~TJp2Codec();
  TJp2Codec(const TJp2Codec&) = delete;
  TJp2Codec& operator=(const TJp2Codec&) = delete;

  // Reads the headers from the start of file, which must outlive this object. threads: the
  // codec's own worker threads (0: none, the caller's thread does all).
  bool Open(TJp2File& file, TJp2Container container, unsigned reduce = 0, unsigned threads = 0);
  // The same for the file whose headers are header: a codestream found behind broken boxes is
  // read on its own.
  bool Open(TJp2File& file, const TJp2Header& header, unsigned reduce = 0, unsigned threads = 0);
  // Decodes one whole tile into Image(); its first component then holds the tile's samples.
  bool DecodeTile(uint32_t tile);
  // Frees the last tile's samples once they are placed: a codec waiting for its next tile then
  // holds only the stream's state, not a tile's worth of 32-bit samples.
  void ReleaseTile();

  opj_codec_t* Codec() const { return FCodec; }
  opj_image_t* Image() const { return FImage; }
  const std::string& Error() const { return FError; }

 private:
  bool OpenStream(opj_stream_t* stream, OPJ_CODEC_FORMAT format, unsigned reduce, unsigned threads);

  opj_stream_t* FStream = nullptr;
  opj_codec_t* FCodec = nullptr;
  opj_image_t* FImage = nullptr;
  std::string FError;
};
