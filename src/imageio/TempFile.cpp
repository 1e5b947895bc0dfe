// The temporary file: its name, its creation with retries, its checked writes and its one move
// into place. The system's part is in TempFilePosix.cpp and TempFileWin.cpp.
#include "TempFile.h"

#include <chrono>
#include <mutex>
#include <random>
#include <string>

#include "TempFilePlatform.h"
#include "TempFileRegistry.h"
#include "TempFileTesting.h"

namespace fs = std::filesystem;
using tempFileDetail::TChar;

namespace {
std::mutex gRandomLock;

// A fresh candidate name: ".bw-XXXXXX.tmp".
fs::path::string_type RandomName() {
  static std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(),
                       static_cast<unsigned>(std::chrono::high_resolution_clock::now().time_since_epoch().count())};
    return std::mt19937_64(seed);
  }();
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  fs::path::string_type name;
  for (char c : std::string(".bw-")) name += static_cast<TChar>(c);
  {
    std::lock_guard<std::mutex> lock(gRandomLock);
    for (int i = 0; i < 6; ++i) name += static_cast<TChar>(kLetters[generator() % 36]);
  }
  for (char c : std::string(".tmp")) name += static_cast<TChar>(c);
  return name;
}
}  // namespace

std::unique_ptr<TTempFile> TTempFile::CreateBeside(const fs::path& target) {
  const fs::path folder = target.parent_path();
  // A name that exists (a file, a folder or a link) is never touched: try another.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = folder / RandomName();
    bool exists = false;
    const intptr_t handle = tempFileDetail::CreateExclusive(candidate, exists);
    if (handle != -1) {
      const int slot = tempFileDetail::Register(candidate);
      return std::unique_ptr<TTempFile>(new TTempFile(candidate, handle, slot));
    }
    if (!exists) return nullptr;
  }
  return nullptr;
}

TTempFile::TTempFile(const fs::path& path, intptr_t handle, int slot) : FPath(path), FHandle(handle), FSlot(slot) {}

TTempFile::~TTempFile() {
  if (!FCommitted) Discard();
  tempFileDetail::Unregister(FSlot);
}

bool TTempFile::Write(const void* data, size_t size) {
  if (FFailed || !FOpen) return Fail();
  if (tempFileDetail::TestLimitSet() && !tempFileDetail::WithinTestLimit(Seek(0, 1), size)) return Fail();
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const int64_t written = tempFileDetail::WriteSome(FHandle, bytes, size);
    if (written <= 0) return Fail();
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

int64_t TTempFile::Read(void* data, size_t size) {
  if (FFailed || !FOpen) return -1;
  const int64_t got = tempFileDetail::ReadSome(FHandle, data, size);
  if (got < 0) FFailed = true;
  return got;
}

int64_t TTempFile::Seek(int64_t offset, int whence) {
  if (FFailed || !FOpen) return -1;
  const int64_t at = tempFileDetail::SeekTo(FHandle, offset, whence);
  if (at < 0) FFailed = true;
  return at;
}

int64_t TTempFile::Size() { return FOpen ? tempFileDetail::SizeOf(FHandle) : -1; }

bool TTempFile::Close() {
  if (!FOpen) return false;
  FOpen = false;
  return tempFileDetail::CloseFile(FHandle);
}

void TTempFile::Discard() {
  if (FOpen) {
    FOpen = false;
    tempFileDetail::CloseFile(FHandle);
  }
  tempFileDetail::RemoveFile(FPath);
}

bool TTempFile::CommitTo(const fs::path& target) {
  const bool closed = Close();
  if (FFailed || !closed || !tempFileDetail::MoveOver(FPath, target)) {
    FFailed = true;
    Discard();
    return false;
  }
  FCommitted = true;
  tempFileDetail::Unregister(FSlot);
  FSlot = -1;
  return true;
}

bool WriteWholeFile(const fs::path& path, const void* data, size_t size) {
  const std::unique_ptr<TTempFile> file = TTempFile::CreateBeside(path);
  return file && file->Write(data, size) && file->CommitTo(path);
}

bool WriteWholeFile(const fs::path& path, std::string_view bytes) {
  return WriteWholeFile(path, bytes.data(), bytes.size());
}
