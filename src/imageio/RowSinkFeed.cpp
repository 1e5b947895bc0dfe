#include "RowSinkFeed.h"

#include <algorithm>
#include <chrono>

namespace {
// About 1 MiB of samples a run: short enough that the keep-alive comes often, long enough
// that the calls cost nothing.
constexpr size_t kRunBytes = size_t(1) << 20;
constexpr auto kCallbackInterval = std::chrono::milliseconds(50);
}  // namespace

bool PutWholePicture(TRowSink& sink, const TRowView& rows, const TWorkCallbacks& callbacks) {
  if (rows.Width == 0 || rows.Height == 0 || !rows.Top) return false;
  const uint32_t run = static_cast<uint32_t>(std::clamp<size_t>(kRunBytes / rows.RowBytes(), 1, rows.Height));
  auto last = std::chrono::steady_clock::now();
  for (uint32_t y = 0; y < rows.Height; y += run) {
    TRowView part = rows;
    part.Top = rows.Top + static_cast<ptrdiff_t>(y) * rows.Stride;
    part.Height = std::min(run, rows.Height - y);
    if (!sink.Put(part)) return false;
    if (callbacks.Progress) callbacks.Progress(y + part.Height, rows.Height);
    if (callbacks.KeepAlive && std::chrono::steady_clock::now() - last >= kCallbackInterval) {
      callbacks.KeepAlive();
      last = std::chrono::steady_clock::now();
    }
  }
  return sink.Finish();
}
