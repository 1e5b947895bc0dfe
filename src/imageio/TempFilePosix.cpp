// The temporary file natively: a descriptor opened with O_EXCL and O_NOFOLLOW, and signal
// handlers that unlink the live files before the signal takes its default course.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "TempFilePlatform.h"
#include "TempFileRegistry.h"

namespace fs = std::filesystem;

namespace {
int Fd(intptr_t handle) { return static_cast<int>(handle); }

void OnInterrupt(int signal) {
  tempFileDetail::RemoveLive();
  // Let the signal end the process as it would have without us.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}
}  // namespace

namespace tempFileDetail {
intptr_t CreateExclusive(const fs::path& path, bool& exists) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  exists = fd < 0 && errno == EEXIST;
  return fd;
}

int64_t WriteSome(intptr_t handle, const void* data, size_t size) {
  ssize_t written;
  do {
    written = ::write(Fd(handle), data, size);
  } while (written < 0 && errno == EINTR);
  return written;
}

int64_t ReadSome(intptr_t handle, void* data, size_t size) {
  ssize_t got;
  do {
    got = ::read(Fd(handle), data, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

int64_t SeekTo(intptr_t handle, int64_t offset, int whence) {
  return ::lseek(Fd(handle), static_cast<off_t>(offset), whence);
}

int64_t SizeOf(intptr_t handle) {
  struct stat info;
  return ::fstat(Fd(handle), &info) == 0 ? info.st_size : -1;
}

bool CloseFile(intptr_t handle) {
  // close() reports what a delayed write-back (NFS, quotas) could not store; after EINTR the
  // descriptor is gone on Linux, and the data's fate is unknown, so that counts as a failure.
  return ::close(Fd(handle)) == 0;
}

void RemoveFile(const fs::path& path) { ::unlink(path.c_str()); }

// rename() replaces a file atomically and refuses to replace a folder.
bool MoveOver(const fs::path& path, const fs::path& target) { return ::rename(path.c_str(), target.c_str()) == 0; }

void RemoveLiveFile(const TChar* path) { ::unlink(path); }

void RemoveLiveFolder(const TChar* path) { ::rmdir(path); }
}  // namespace tempFileDetail

void RemoveTempFilesOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    // A signal the shell told us to ignore (nohup, a background job) stays ignored.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}
