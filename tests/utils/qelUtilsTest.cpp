#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "qelUtils.h"

namespace {
constexpr int64_t kTicksPerDay = 864000000000LL;

TEST(FileTimeToDays, CalendarAnchors) {
  EXPECT_EQ(FileTimeToDays(0), -109205.0);                 // 1601-01-01 00:00
  EXPECT_EQ(FileTimeToDays(109205LL * kTicksPerDay), 0.0);  // 1899-12-30 00:00, exactly
  EXPECT_EQ(FileTimeToDays(109206LL * kTicksPerDay), 1.0);
  // 1970-01-01 is day 25569; noon adds half a day.
  EXPECT_DOUBLE_EQ(FileTimeToDays(116444736000000000LL), 25569.0);
  EXPECT_DOUBLE_EQ(FileTimeToDays(116444736000000000LL + kTicksPerDay / 2), 25569.5);
  // Negative tick counts (before 1601) stay linear.
  EXPECT_EQ(FileTimeToDays(-kTicksPerDay), -109206.0);
}

TEST(NowUTC, AgreesWithTheSystemClock) {
  qelUtilsInitialize();
  const double unixDays = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
  const double now = NowUTC();
  EXPECT_NEAR(now, unixDays, 2.0 / 86400.0);  // within two seconds
  qelUtilsFinalize();
}

TEST(NowUTC, DifferenceGivesElapsedSeconds) {
  qelUtilsInitialize();
  const double start = NowUTC();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const double seconds = (NowUTC() - start) * 86400.0;
  EXPECT_GE(seconds, 0.25);
  EXPECT_LT(seconds, 5.0);
  qelUtilsFinalize();
}

// KeepAlive against a tick counter the test controls.
uint32_t gFakeTick = 0;
int gPeeks = 0;
int gTickReads = 0;
uint32_t FakeTick() {
  ++gTickReads;
  return gFakeTick;
}
void CountPeek() { ++gPeeks; }

class KeepAliveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qelUtilsTesting::ResetLastTick();
    qelUtilsTesting::SetKeepAliveHooks(FakeTick, CountPeek);
    gPeeks = gTickReads = 0;
  }
  void TearDown() override { qelUtilsTesting::SetKeepAliveHooks(nullptr, nullptr); }
};

TEST_F(KeepAliveTest, PeeksAtMostOncePerTickStep) {
  gFakeTick = 1000;
  KeepAlive();  // first call of the process peeks: the last tick starts at 0
  EXPECT_EQ(gPeeks, 1);
  EXPECT_EQ(qelUtilsTesting::LastTick(), 1000u);
  for (int i = 0; i < 50; ++i) KeepAlive();
  EXPECT_EQ(gPeeks, 1);  // same step: nothing at all
  gFakeTick = 1016;
  KeepAlive();
  KeepAlive();
  EXPECT_EQ(gPeeks, 2);
}

TEST_F(KeepAliveTest, SameStepReadsTheCounterOnceAndStoresNothing) {
  gFakeTick = 77;
  KeepAlive();
  gTickReads = 0;
  KeepAlive();
  EXPECT_EQ(gTickReads, 1);
  EXPECT_EQ(qelUtilsTesting::LastTick(), 77u);
}

// The counter may move while the queue is looked at; the reading after the peek is the one
// kept, so the next call in that later step does nothing.
void PeekWhileTheCounterMoves() {
  ++gPeeks;
  gFakeTick += 16;
}

TEST_F(KeepAliveTest, StoresTheReadingTakenAfterThePeek) {
  qelUtilsTesting::SetKeepAliveHooks(FakeTick, PeekWhileTheCounterMoves);
  gFakeTick = 500;
  KeepAlive();
  EXPECT_EQ(gPeeks, 1);
  EXPECT_EQ(gTickReads, 2);
  EXPECT_EQ(qelUtilsTesting::LastTick(), 516u);
  KeepAlive();
  EXPECT_EQ(gPeeks, 1);
}

TEST_F(KeepAliveTest, FirstCallAtTickZeroDoesNotPeek) {
  gFakeTick = 0;
  KeepAlive();
  EXPECT_EQ(gPeeks, 0);
}

TEST_F(KeepAliveTest, CounterWrapIsHarmless) {
  gFakeTick = 0xFFFFFFF0u;
  KeepAlive();
  gFakeTick = 5;  // wrapped
  KeepAlive();
  EXPECT_EQ(gPeeks, 2);
  EXPECT_EQ(qelUtilsTesting::LastTick(), 5u);
}

#if defined(_WIN32)
// The look at the queue must leave every message where it is: the job's host serves them
// later, in its own message boxes.
TEST(KeepAliveReal, LeavesTheQueueAsItWas) {
  const UINT kProbe = WM_APP + 17;
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // make sure the thread has a queue
  while (PeekMessageW(&msg, nullptr, kProbe, kProbe, PM_REMOVE)) {
  }
  ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), kProbe, 42, 0));
  for (int i = 0; i < 3; ++i) {
    qelUtilsTesting::ResetLastTick();  // each call peeks
    KeepAlive();
  }
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, kProbe, kProbe, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 42u);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, kProbe, kProbe, PM_REMOVE));
}

TEST(ModuleStartUp, BindsTheSystemsOwnEntryPoints) {
  qelUtilsInitialize();
  // Called, not compared: an entry bound to another function answers otherwise.
  ASSERT_NE(GetTickCount64Entry, nullptr);
  const unsigned long long bound = GetTickCount64Entry();
  EXPECT_LE(GetTickCount64() - bound, 1000u);
  if (DwmIsCompositionEnabledEntry) {
    int enabled = -1;
    EXPECT_EQ(DwmIsCompositionEnabledEntry(&enabled), 0);  // S_OK
    EXPECT_TRUE(enabled == 0 || enabled == 1);
  }
  qelUtilsFinalize();
  EXPECT_NE(GetTickCount64Entry, nullptr);  // left as bound
}
#endif

}  // namespace
