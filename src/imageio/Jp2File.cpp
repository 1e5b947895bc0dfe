#include "Jp2File.h"

namespace {
#if defined(_WIN32)
FILE* OpenForReading(const std::filesystem::path& path) { return _wfopen(path.c_str(), L"rb"); }
bool SeekTo(FILE* file, int64_t offset, int origin) { return _fseeki64(file, offset, origin) == 0; }
int64_t Tell(FILE* file) { return _ftelli64(file); }
#else
FILE* OpenForReading(const std::filesystem::path& path) { return std::fopen(path.c_str(), "rb"); }
bool SeekTo(FILE* file, int64_t offset, int origin) { return fseeko(file, static_cast<off_t>(offset), origin) == 0; }
int64_t Tell(FILE* file) { return ftello(file); }
#endif

TJp2File& Of(void* user) { return *static_cast<TJp2File*>(user); }

OPJ_SIZE_T ReadFromFile(void* buffer, OPJ_SIZE_T bytes, void* user) {
  TJp2File& file = Of(user);
  const int64_t at = Tell(file.Handle());
  if (at < 0 || static_cast<uint64_t>(at) >= file.StreamEnd()) return static_cast<OPJ_SIZE_T>(-1);
  const uint64_t left = file.StreamEnd() - static_cast<uint64_t>(at);
  const size_t read = std::fread(buffer, 1, bytes < left ? bytes : static_cast<size_t>(left), file.Handle());
  return read > 0 ? read : static_cast<OPJ_SIZE_T>(-1);
}
OPJ_OFF_T SkipInFile(OPJ_OFF_T bytes, void* user) {
  return SeekTo(Of(user).Handle(), bytes, SEEK_CUR) ? bytes : -1;
}
OPJ_BOOL SeekInFile(OPJ_OFF_T offset, void* user) {
  TJp2File& file = Of(user);
  return SeekTo(file.Handle(), static_cast<int64_t>(file.StreamStart()) + offset, SEEK_SET) ? OPJ_TRUE : OPJ_FALSE;
}
}  // namespace

TJp2File::~TJp2File() {
  if (FFile) std::fclose(FFile);
}

bool TJp2File::Open(const std::filesystem::path& path) {
  // A FIFO or device would block the open, or never end: regular files (or links to one) only.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  FFile = OpenForReading(path);
  if (!FFile) return false;
  if (!SeekTo(FFile, 0, SEEK_END)) return false;
  const int64_t size = Tell(FFile);
  if (size < 0 || !SeekTo(FFile, 0, SEEK_SET)) return false;
  FSize = static_cast<uint64_t>(size);
  return true;
}

bool TJp2File::ReadAt(uint64_t offset, void* buffer, size_t count) {
  if (!FFile || offset > FSize || count > FSize - offset) return false;
  return SeekTo(FFile, static_cast<int64_t>(offset), SEEK_SET) && std::fread(buffer, 1, count, FFile) == count;
}

opj_stream_t* TJp2File::CreateStream(uint64_t start, uint64_t end) {
  FStreamEnd = end < FSize ? end : FSize;
  FStreamStart = start < FStreamEnd ? start : FStreamEnd;
  if (!FFile || !SeekTo(FFile, static_cast<int64_t>(FStreamStart), SEEK_SET)) return nullptr;
  // Small: the library reads a tile's data, the bulk of a band, straight into its own memory;
  // the buffer serves the markers between them. A band decoded by several codecs at once
  // holds one per codec.
  constexpr OPJ_SIZE_T kStreamBuffer = OPJ_SIZE_T{64} << 10;
  opj_stream_t* stream = opj_stream_create(kStreamBuffer, OPJ_TRUE);
  if (!stream) return nullptr;
  opj_stream_set_user_data(stream, this, nullptr);
  opj_stream_set_user_data_length(stream, FStreamEnd - FStreamStart);
  opj_stream_set_read_function(stream, ReadFromFile);
  opj_stream_set_skip_function(stream, SkipInFile);
  opj_stream_set_seek_function(stream, SeekInFile);
  return stream;
}
