#include "TempFileRegistry.h"

#include <atomic>
#include <cstring>

#include "TempFilePlatform.h"

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
}  // namespace

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

void RemoveLive() {
  // Files first, then the folders they emptied (each call fails harmlessly on the other kind).
  RemoveAllLive(RemoveLiveFile);
  RemoveAllLive(RemoveLiveFolder);
}
}  // namespace tempFileDetail
