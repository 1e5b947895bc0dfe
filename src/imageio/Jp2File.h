// An OpenJPEG input stream over a file named by a path in the platform's own form (UTF-16 on
// Windows), with 64-bit positions, so that large files and any file name work.
#pragma once
#include <openjpeg.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

class TJp2File {
 public:
  TJp2File() = default;
  ~TJp2File();
  TJp2File(const TJp2File&) = delete;
  TJp2File& operator=(const TJp2File&) = delete;

  bool Open(const std::filesystem::path& path);
  uint64_t Size() const { return FSize; }
  // Reads exactly count bytes at offset.
  bool ReadAt(uint64_t offset, void* buffer, size_t count);
  // A stream for one codec over the bytes from start to end (the whole file by default), which
  // it sees as its positions 0 on; the caller destroys it (opj_stream_destroy) before this
  // object goes. One stream at a time.
  opj_stream_t* CreateStream(uint64_t start = 0, uint64_t end = UINT64_MAX);

  FILE* Handle() const { return FFile; }
  uint64_t StreamStart() const { return FStreamStart; }
  uint64_t StreamEnd() const { return FStreamEnd; }

 private:
  FILE* FFile = nullptr;
  uint64_t FSize = 0;
  uint64_t FStreamStart = 0, FStreamEnd = 0;
};
