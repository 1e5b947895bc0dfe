#include "CloudFreeJoin.h"

#include <algorithm>
#include <new>

#include "DateMedian.h"

class TCloudFreeJoin::TDateSink : public TRowSink {
 public:
  TDateSink(TCloudFreeJoin& join, size_t date) : FJoin(join), FDate(date) {}
  bool Put(const TRowView& rows) override { return FJoin.Put(FDate, rows); }
  // The join finishes the picture once every date is in.
  bool Finish() override { return true; }

 private:
  TCloudFreeJoin& FJoin;
  size_t FDate;
};

TCloudFreeJoin::TCloudFreeJoin(TRowSink& target, std::vector<const TCloudMask*> masks, const TPlacedGrid& grid)
    : FTarget(target), FMasks(std::move(masks)), FGrid(grid), FPending(FMasks.size()), FMaskRows(FMasks.size()) {
  for (size_t d = 0; d < FMasks.size(); ++d) FSinks.push_back(std::make_unique<TDateSink>(*this, d));
}

TCloudFreeJoin::~TCloudFreeJoin() = default;

TRowSink& TCloudFreeJoin::Date(size_t d) { return *FSinks.at(d); }

void TCloudFreeJoin::Abort() {
  {
    std::lock_guard<std::mutex> hold(FLock);
    FFailed = true;
  }
  FChanged.notify_all();
}

bool TCloudFreeJoin::Put(size_t d, const TRowView& rows) {
  std::unique_lock<std::mutex> hold(FLock);
  TPending& pending = FPending[d];
  if (FFailed || pending.Rows.Height || rows.Width != FGrid.Width ||
      uint64_t{pending.First} + rows.Height > FGrid.Height) {
    FFailed = true;
    FChanged.notify_all();
    return false;
  }
  pending.Rows = rows;
  try {
    JoinAvailable();
  } catch (const std::bad_alloc&) {
    FFailed = true;
  }
  FChanged.notify_all();
  // The caller's rows are its own again once they are joined (or once the join has failed).
  FChanged.wait(hold, [&] { return FFailed || pending.Rows.Height == 0; });
  return !FFailed;
}

void TCloudFreeJoin::JoinAvailable() {
  while (!FFailed) {
    uint32_t end = FGrid.Height;
    for (const TPending& p : FPending) end = std::min(end, p.First + p.Rows.Height);
    if (end <= FDone) return;
    const uint32_t count = end - FDone;
    std::vector<TDateRows> dates(FPending.size());
    for (size_t d = 0; d < FPending.size(); ++d) {
      TRowView& rows = dates[d].Samples;
      rows = FPending[d].Rows;
      rows.Top += static_cast<ptrdiff_t>(FDone - FPending[d].First) * rows.Stride;
      rows.Height = count;
      if (FMasks[d]) {
        FMaskRows[d].resize(size_t{FGrid.Width} * count);
        FMasks[d]->Rows(FGrid, FDone, count, FMaskRows[d].data());
        dates[d].Masked = FMaskRows[d].data();
      }
    }
    FOut.resize(size_t{FGrid.Width} * count * 3);
    FEmpty += MedianOfDates(dates, FGrid.Width, count, FOut.data(), size_t{FGrid.Width} * 3);
    TRowView joined;
    joined.Top = reinterpret_cast<const uint8_t*>(FOut.data());
    joined.Stride = static_cast<ptrdiff_t>(FGrid.Width) * 6;
    joined.Width = FGrid.Width;
    joined.Height = count;
    if (!FTarget.Put(joined)) {
      FFailed = true;
      return;
    }
    FDone = end;
    // Dates whose rows are all joined get them back.
    for (TPending& p : FPending) {
      if (p.First + p.Rows.Height == FDone) {
        p.First = FDone;
        p.Rows = TRowView();
      }
    }
  }
}

bool TCloudFreeJoin::Finish() {
  std::lock_guard<std::mutex> hold(FLock);
  const bool complete = !FFailed && FDone == FGrid.Height;
  return FTarget.Finish() && complete;
}
