#include "Jp2Codec.h"

namespace {
void KeepFirstError(const char* message, void* user) {
  auto* error = static_cast<std::string*>(user);
  if (!error->empty() || !message) return;
  *error = message;
  while (!error->empty() && (error->back() == '\n' || error->back() == '\r')) error->pop_back();
}
void Ignore(const char*, void*) {}
}  // namespace

TJp2Codec::~TJp2Codec() {
  if (FImage) opj_image_destroy(FImage);
  if (FCodec) opj_destroy_codec(FCodec);
  if (FStream) opj_stream_destroy(FStream);
}

bool TJp2Codec::Open(TJp2File& file, const TJp2Header& header, unsigned reduce, unsigned threads) {
  if (!header.BrokenBoxes) return Open(file, header.Container, reduce, threads);
  return OpenStream(file.CreateStream(header.CodestreamStart, header.CodestreamEnd), OPJ_CODEC_J2K, reduce, threads);
}

bool TJp2Codec::Open(TJp2File& file, TJp2Container container, unsigned reduce, unsigned threads) {
  return OpenStream(file.CreateStream(), container == TJp2Container::Jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K, reduce,
                    threads);
}

bool TJp2Codec::OpenStream(opj_stream_t* stream, OPJ_CODEC_FORMAT format, unsigned reduce, unsigned threads) {
  FStream = stream;
  FCodec = opj_create_decompress(format);
  if (!FStream || !FCodec) {
    FError = "out of memory";
    return false;
  }
  opj_set_error_handler(FCodec, KeepFirstError, &FError);
  opj_set_warning_handler(FCodec, Ignore, nullptr);
  opj_set_info_handler(FCodec, Ignore, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  bool ok = opj_setup_decoder(FCodec, &parameters) && opj_decoder_set_strict_mode(FCodec, OPJ_TRUE);
  // Overrides the threads OPJ_NUM_THREADS would give every codec; a library built without
  // threads refuses, and then decodes on the caller's thread alone.
  if (ok) opj_codec_set_threads(FCodec, static_cast<int>(threads > 1 ? threads : 0));
  ok = ok && opj_read_header(FStream, FCodec, &FImage) && FImage && FImage->numcomps > 0 &&
                  (reduce == 0 || opj_set_decoded_resolution_factor(FCodec, reduce));
  if (!ok && FError.empty()) FError = "the headers cannot be read";
  return ok;
}

bool TJp2Codec::DecodeTile(uint32_t tile) {
  if (opj_get_decoded_tile(FCodec, FStream, FImage, tile) && FImage->comps[0].data) return true;
  if (FError.empty()) FError = "tile " + std::to_string(tile) + " cannot be decoded";
  return false;
}

void TJp2Codec::ReleaseTile() {
  if (!FImage) return;
  // The library frees and replaces these itself when it decodes the next tile.
  for (OPJ_UINT32 c = 0; c < FImage->numcomps; ++c) {
    opj_image_data_free(FImage->comps[c].data);
    FImage->comps[c].data = nullptr;
  }
}
