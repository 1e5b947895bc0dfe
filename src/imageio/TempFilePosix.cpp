// The temporary file natively: a descriptor opened with O_EXCL and O_NOFOLLOW, and signal
// handlers that unlink the live files before the signal takes its default course.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "TempFile.h"

namespace fs = std::filesystem;

namespace tempFileDetail {
intptr_t CreateExclusive(const fs::path& path, bool& exists) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  exists = fd < 0 && errno == EEXIST;
  return fd;
}
}  // namespace tempFileDetail

namespace {
int Fd(intptr_t handle) { return static_cast<int>(handle); }

void Unlink(const tempFileDetail::TChar* path) { ::unlink(path); }

void Rmdir(const tempFileDetail::TChar* path) { ::rmdir(path); }

void OnInterrupt(int signal) {
  tempFileDetail::RemoveLive();
  // Let the signal end the process as it would have without us.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}
}  // namespace

bool TTempFile::Write(const void* data, size_t size) {
  if (FFailed || !FOpen) return Fail();
  if (tempFileDetail::TestLimitSet() && !tempFileDetail::WithinTestLimit(Seek(0, 1), size)) return Fail();
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(Fd(FHandle), bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return Fail();
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

int64_t TTempFile::Read(void* data, size_t size) {
  if (FFailed || !FOpen) return -1;
  ssize_t got;
  do {
    got = ::read(Fd(FHandle), data, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) FFailed = true;
  return got;
}

int64_t TTempFile::Seek(int64_t offset, int whence) {
  if (FFailed || !FOpen) return -1;
  const off_t at = ::lseek(Fd(FHandle), static_cast<off_t>(offset), whence);
  if (at < 0) FFailed = true;
  return at;
}

int64_t TTempFile::Size() {
  struct stat info;
  if (!FOpen || ::fstat(Fd(FHandle), &info) != 0) return -1;
  return info.st_size;
}

bool TTempFile::Close() {
  if (!FOpen) return false;
  FOpen = false;
  // close() reports what a delayed write-back (NFS, quotas) could not store; after EINTR the
  // descriptor is gone on Linux, and the data's fate is unknown, so that counts as a failure.
  return ::close(Fd(FHandle)) == 0;
}

void TTempFile::Discard() {
  if (FOpen) {
    FOpen = false;
    ::close(Fd(FHandle));
  }
  ::unlink(FPath.c_str());
}

bool TTempFile::CommitTo(const fs::path& target) {
  const bool closed = Close();
  // rename() replaces a file atomically and refuses to replace a folder.
  if (FFailed || !closed || ::rename(FPath.c_str(), target.c_str()) != 0) {
    FFailed = true;
    Discard();
    return false;
  }
  FCommitted = true;
  tempFileDetail::Unregister(FSlot);
  FSlot = -1;
  return true;
}

namespace tempFileDetail {
void RemoveLive() {
  // Files first, then the folders they emptied (each call fails harmlessly on the other kind).
  RemoveAllLive(Unlink);
  RemoveAllLive(Rmdir);
}
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
