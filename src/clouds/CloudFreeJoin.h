// Where the rows of several dates meet: each date's rows arrive through a sink of their own,
// from a thread of their own, and once every date has handed in a run of the picture's rows,
// their median (DateMedian) goes on to the one sink behind. A date's Put returns only when its
// rows have been used, so no date's rows are ever copied or held beyond the run in hand, and
// no date runs ahead of the others by more than that.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "CloudMask.h"
#include "RowSink.h"

class TCloudFreeJoin {
 public:
  // masks[d] is date d's mask (null: nothing masked); they and target must outlive the join.
  // grid is the picture's, which every date shares.
  TCloudFreeJoin(TRowSink& target, std::vector<const TCloudMask*> masks, const TPlacedGrid& grid);
  ~TCloudFreeJoin();
  TCloudFreeJoin(const TCloudFreeJoin&) = delete;
  TCloudFreeJoin& operator=(const TCloudFreeJoin&) = delete;

  // The sink date d's rows go to, top to bottom.
  TRowSink& Date(size_t d);
  // Wakes every date waiting in Put: their Put and everything after fails. For a date that
  // failed on its own, so that the others do not wait for it for ever.
  void Abort();
  // After every date's rows are in: finishes the target. False when a row is missing or
  // anything failed.
  bool Finish();

  uint64_t EmptyPixels() const { return FEmpty; }  // pixels clear on no date

 private:
  class TDateSink;
  bool Put(size_t d, const TRowView& rows);
  // Joins the rows every date holds beyond FDone; under FLock.
  void JoinAvailable();

  TRowSink& FTarget;
  std::vector<const TCloudMask*> FMasks;
  TPlacedGrid FGrid;
  std::vector<std::unique_ptr<TDateSink>> FSinks;

  struct TPending {
    TRowView Rows;       // the date's rows in hand; Height 0: none
    uint32_t First = 0;  // the picture row of Rows' first row
  };
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TPending> FPending;
  uint32_t FDone = 0;  // rows joined and put
  bool FFailed = false;
  uint64_t FEmpty = 0;
  std::vector<std::vector<uint8_t>> FMaskRows;
  std::vector<uint16_t> FOut;
};
