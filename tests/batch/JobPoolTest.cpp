// The scheduler against a fake machine: jobs that end when the test says, memory that the test
// sets.
#include <gtest/gtest.h>

#include <deque>

#include "JobMemory.h"
#include "JobPool.h"

namespace {
constexpr uint64_t kMB = uint64_t{1} << 20;

struct TFakeMachine {
  uint64_t Free = 1000 * kMB;
  std::vector<size_t> Started;
  std::vector<std::pair<size_t, std::wstring>> Refused;
  std::vector<size_t> Running;
  size_t MostAtOnce = 0;
  std::deque<size_t> EndOrder;  // which running job ends at each wait; empty: the oldest
  bool Stop = false;
  size_t StopAfterStarts = SIZE_MAX;

  TJobPoolCalls Calls() {
    TJobPoolCalls calls;
    calls.Start = [this](size_t k) {
      Started.push_back(k);
      Running.push_back(k);
      MostAtOnce = std::max(MostAtOnce, Running.size());
      if (Started.size() >= StopAfterStarts) Stop = true;
      return true;
    };
    calls.Wait = [this]() {
      size_t ending = Running.front();
      if (!EndOrder.empty()) {
        ending = EndOrder.front();
        EndOrder.pop_front();
      }
      Running.erase(std::find(Running.begin(), Running.end(), ending));
      return std::vector<size_t>{ending};
    };
    calls.Refuse = [this](size_t k, const std::wstring& why) { Refused.emplace_back(k, why); };
    calls.AvailableMemory = [this] { return Free; };
    calls.Stopping = [this] { return Stop; };
    return calls;
  }
};
}  // namespace

TEST(JobPool, RunsEveryJobInOrderNeverMoreThanTheSlots) {
  TFakeMachine machine;
  EXPECT_EQ(RunJobPool(std::vector<uint64_t>(7, 10 * kMB), 3, machine.Calls()), 0u);
  EXPECT_EQ(machine.Started, (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(machine.MostAtOnce, 3u);
  EXPECT_TRUE(machine.Refused.empty());
}

TEST(JobPool, AJobWaitsUntilItsMemoryFitsBesideTheRunning) {
  TFakeMachine machine;
  machine.Free = 1000 * kMB;
  // 600 + 300 fit together; 600 more must wait for the first 600 to end, though a slot is free.
  machine.EndOrder = {0, 1, 2};
  RunJobPool({600 * kMB, 300 * kMB, 600 * kMB}, 3, machine.Calls());
  EXPECT_EQ(machine.Started, (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(machine.MostAtOnce, 2u);
  EXPECT_TRUE(machine.Refused.empty());
}

TEST(JobPool, AJobThatCouldNeverFitFailsAtOnceAndTheRestGoOn) {
  TFakeMachine machine;
  machine.Free = 512 * kMB;
  RunJobPool({100 * kMB, 900 * kMB, 100 * kMB}, 1, machine.Calls());
  EXPECT_EQ(machine.Started, (std::vector<size_t>{0, 2}));
  ASSERT_EQ(machine.Refused.size(), 1u);
  EXPECT_EQ(machine.Refused[0].first, 1u);
  EXPECT_EQ(machine.Refused[0].second, L"Not enough memory: the job needs about 900 MB, 512 MB are free");
}

TEST(JobPool, MemoryThatShrinksWhileJobsRunHoldsBackTheNext) {
  TFakeMachine machine;
  machine.Free = 1000 * kMB;
  TJobPoolCalls calls = machine.Calls();
  // Something outside the batch takes memory once the first job runs.
  const auto start = calls.Start;
  calls.Start = [&](size_t k) {
    machine.Free = 150 * kMB;
    return start(k);
  };
  RunJobPool({100 * kMB, 200 * kMB}, 2, calls);
  EXPECT_EQ(machine.MostAtOnce, 1u);
  EXPECT_EQ(machine.Started.size(), 1u);  // alone it no longer fits: refused after the first ended
  ASSERT_EQ(machine.Refused.size(), 1u);
  EXPECT_EQ(machine.Refused[0].first, 1u);
}

TEST(JobPool, UnknownMemoryOrUnknownEstimatesLeaveOnlyTheSlots) {
  TFakeMachine machine;
  machine.Free = 0;
  RunJobPool({5000 * kMB, 5000 * kMB}, 2, machine.Calls());
  EXPECT_EQ(machine.MostAtOnce, 2u);
  TFakeMachine other;
  other.Free = 100 * kMB;
  RunJobPool({0, 0, 0}, 3, other.Calls());
  EXPECT_EQ(other.MostAtOnce, 3u);
}

TEST(JobPool, AStopStartsNothingMoreAndWaitsForTheRunning) {
  TFakeMachine machine;
  machine.StopAfterStarts = 2;
  EXPECT_EQ(RunJobPool(std::vector<uint64_t>(5, kMB), 2, machine.Calls()), 3u);
  EXPECT_EQ(machine.Started.size(), 2u);
  EXPECT_TRUE(machine.Running.empty());
}

// The wait is only as good as the estimate: a tiled band streams in a fraction of its picture,
// a band of one tile holds it whole.
TEST(JobMemory, ATiledTileStreamsAndAnUntiledOneIsHeldWhole) {
  const uint64_t full = uint64_t{10980} * 10980 * 6;
  const uint64_t streamed = EstimateCompositeMemory(10980, 10980, 1024, 1024, 2);
  EXPECT_LT(streamed, uint64_t{300} << 20);
  EXPECT_GT(streamed, uint64_t{2} * 10980 * 1024 * 6);
  EXPECT_GT(EstimateCompositeMemory(10980, 10980, 10980, 10980, 2), full);
  // The last row of tiles may be short; a picture shorter than one tile row holds only itself.
  EXPECT_LT(EstimateCompositeMemory(100, 10, 64, 64, 1), EstimateCompositeMemory(100, 200, 64, 64, 1));
}

// The estimate follows what a job decodes: a reduced composite or a preview is a fraction of
// the tile; a quicklook beside the full composite adds nothing to its peak; a preview at full
// resolution is held whole.
TEST(JobMemory, AJobIsEstimatedAtTheResolutionItDecodes) {
  TPlannedJob job;
  job.Job.Kind = TJobKind::Zip;  // its size comes from its name: no files needed
  job.Files.Bands.Started = true;
  job.Files.Bands.BandToken = L"B04_10m.jp2";
  const auto estimate = [&job](bool quicklook, bool preview, unsigned reduce) {
    TJobSettings settings;
    settings.Quicklook = quicklook;
    settings.Preview = preview;
    settings.Reduce = reduce;
    return EstimateJobMemory(job, settings, 2);
  };
  const uint64_t full = estimate(false, false, 0);
  EXPECT_EQ(full, EstimateCompositeMemory(10980, 10980, 1024, 1024, 2));
  EXPECT_GT(full, 200 * kMB);
  EXPECT_LT(estimate(false, true, 3), 80 * kMB);
  EXPECT_LT(estimate(false, false, 1), full);
  EXPECT_LT(estimate(false, false, 3), estimate(false, false, 1));
  EXPECT_EQ(estimate(true, false, 3), full);
  EXPECT_GT(estimate(false, true, 0), uint64_t{10980} * 10980 * 6);
}
