// A save's output while it is written: a new file with a short random name in the target's
// folder, created exclusively (never an existing file, never through a link), checked on every
// write and at the close, and put in place by one move only when complete. Unless committed it
// is removed: when the object goes, and when the console tool is interrupted (TempFileRegistry.h).
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
