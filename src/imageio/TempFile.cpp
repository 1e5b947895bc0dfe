// The portable half of the temporary file: its name, its creation with retries and the
// registry the interrupt handlers read.
#include "TempFile.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>

namespace fs = std::filesystem;

namespace tempFileDetail {
namespace {
constexpr int kSlots = 16;
constexpr size_t kMaxChars = 4096;

// State: 0 free, 1 being filled or emptied, 2 live (the handlers may remove it).
struct TSlot {
  std::atomic<int> State{0};
  TChar Path[kMaxChars];
};
TSlot gSlots[kSlots];

std::mutex gRandomLock;
std::atomic<int64_t> gWriteLimit{-1};
}  // namespace

bool TestLimitSet() { return gWriteLimit.load() >= 0; }

bool WithinTestLimit(int64_t offset, size_t size) {
  const int64_t limit = gWriteLimit.load();
  return limit < 0 || (offset >= 0 && offset + static_cast<int64_t>(size) <= limit);
}

int Register(const fs::path& path) {
  const auto& text = path.native();
  if (text.size() >= kMaxChars) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!gSlots[i].State.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(gSlots[i].Path, text.c_str(), (text.size() + 1) * sizeof(TChar));
    gSlots[i].State.store(2);
    return i;
  }
  return -1;
}

void Unregister(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  gSlots[slot].State.store(1);
  gSlots[slot].Path[0] = 0;
  gSlots[slot].State.store(0);
}

void RemoveAllLive(void (*remove)(const TChar* path)) {
  for (auto& slot : gSlots)
    if (slot.State.load() == 2) remove(slot.Path);
}

bool IsLive(const TChar* path, size_t length) {
  if (length >= kMaxChars) return false;
  for (const auto& slot : gSlots)
    if (slot.State.load() == 2 && slot.Path[length] == 0 && std::memcmp(slot.Path, path, length * sizeof(TChar)) == 0)
      return true;
  return false;
}

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
}  // namespace tempFileDetail

namespace tempFileTesting {
void SetWriteLimit(int64_t bytes) { tempFileDetail::gWriteLimit.store(bytes); }
}  // namespace tempFileTesting

std::unique_ptr<TTempFile> TTempFile::CreateBeside(const fs::path& target) {
  const fs::path folder = target.parent_path();
  // A name that exists (a file, a folder or a link) is never touched: try another.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = folder / tempFileDetail::RandomName();
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

bool WriteWholeFile(const fs::path& path, const void* data, size_t size) {
  const std::unique_ptr<TTempFile> file = TTempFile::CreateBeside(path);
  return file && file->Write(data, size) && file->CommitTo(path);
}

bool WriteWholeFile(const fs::path& path, std::string_view bytes) {
  return WriteWholeFile(path, bytes.data(), bytes.size());
}
