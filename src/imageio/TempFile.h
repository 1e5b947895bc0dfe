// A save's output while it is written: a new file with a short random name in the target's
// folder, created exclusively (never an existing file, never through a link), checked on every
// write and at the close, and put in place by one move only when complete. Unless committed it
// is removed: when the object goes, and when the console tool is interrupted.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "OutputFile.h"

class TTempFile final : public TOutputFile {
 public:
  // A new file beside target (".bw-" six random letters ".tmp"); null when none can be made.
  static std::unique_ptr<TTempFile> CreateBeside(const std::filesystem::path& target);
  ~TTempFile() override;  // closes and removes the file unless committed
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  bool Write(const void* data, size_t size) override;
  int64_t Read(void* data, size_t size) override;
  int64_t Seek(int64_t offset, int whence) override;
  int64_t Size() override;
  bool Failed() const override { return FFailed; }

  // Closes the file, checking the close, and moves it over target (the only file it may
  // replace). On any failure the file is removed and target is left as it was.
  bool CommitTo(const std::filesystem::path& target);
  const std::filesystem::path& Path() const { return FPath; }

 private:
  TTempFile(const std::filesystem::path& path, intptr_t handle, int slot);
  bool Close();    // checked; the handle is gone afterwards whatever the result
  void Discard();  // close unchecked and remove
  bool Fail() {
    FFailed = true;
    return false;
  }

  std::filesystem::path FPath;
  intptr_t FHandle;
  int FSlot;  // place in the interrupt clean-up registry, -1 if none
  bool FFailed = false;
  bool FOpen = true;
  bool FCommitted = false;
};

// A small file written whole (a world file, an .aux.xml, a report): through a TTempFile beside
// path, moved over path only once every byte is written and the close succeeded. A link at path
// is replaced, never followed; on failure path is left as it was and nothing else stays behind.
bool WriteWholeFile(const std::filesystem::path& path, const void* data, size_t size);
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

// From now on an interrupted console process removes its live temporary files before it ends:
// natively on SIGINT, SIGTERM and SIGHUP; on Windows on Ctrl-C, Ctrl-Break, a closed console
// window, log-off and shut-down.
void RemoveTempFilesOnInterrupt();

namespace tempFileDetail {
using TChar = std::filesystem::path::value_type;
// The registry the interrupt handlers read: fixed slots, no allocation, safe in a handler.
// A registered folder goes once the files registered in it have gone.
int Register(const std::filesystem::path& path);  // -1 when full or the path is too long
void Unregister(int slot);
void RemoveAllLive(void (*remove)(const TChar* path));
// True when the first length characters of path name a live registered entry (a folder).
bool IsLive(const TChar* path, size_t length);
// What the interrupt handlers do before the process ends: every live file, then the folders
// they emptied. Safe in a handler.
void RemoveLive();
// A fresh candidate name: ".bw-XXXXXX.tmp".
std::filesystem::path::string_type RandomName();
// False when a test's write limit forbids size more bytes at offset.
bool WithinTestLimit(int64_t offset, size_t size);
bool TestLimitSet();
// Platform parts.
intptr_t CreateExclusive(const std::filesystem::path& path, bool& exists);  // -1 on failure
}  // namespace tempFileDetail

namespace tempFileTesting {
// A stand-in for a full disk: a write that would take a temporary file past this many bytes
// fails. Negative: no limit (the default).
void SetWriteLimit(int64_t bytes);
}  // namespace tempFileTesting
