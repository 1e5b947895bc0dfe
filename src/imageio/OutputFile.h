// Where a writer puts its bytes: a file opened for this one save. Every call reports failure,
// and once a call has failed the file stays failed, so a writer cannot go on as if nothing
// happened.
#pragma once
#include <cstddef>
#include <cstdint>

class TOutputFile {
 public:
  virtual ~TOutputFile() = default;
  // Writes all of it at the current position, or fails.
  virtual bool Write(const void* data, size_t size) = 0;
  // Reads up to size bytes at the current position; -1 on failure.
  virtual int64_t Read(void* data, size_t size) = 0;
  // Moves the position (whence as for lseek: 0 start, 1 current, 2 end); -1 on failure.
  virtual int64_t Seek(int64_t offset, int whence) = 0;
  virtual int64_t Size() = 0;
  virtual bool Failed() const = 0;
};
