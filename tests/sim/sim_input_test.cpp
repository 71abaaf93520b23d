// The prompt tests lean on the simulated keyboard behaving like the desktop's
// GetAsyncKeyState; these cases pin that behaviour down.
#include "tests/sim/sim_input.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "tests/sim/sim_core.h"

namespace {

constexpr std::int16_t kDown = static_cast<std::int16_t>(0x8000);
constexpr std::int16_t kDownAndPressed = static_cast<std::int16_t>(0x8001);
constexpr std::int16_t kPressed = 1;

class SimKeyboardTest : public ::testing::Test {
 protected:
  std::int16_t QueryAt(std::uint64_t ms, int key) {
    core.nowMs = ms;
    return keyboard.GetAsyncKeyState(key);
  }

  sim::SimCore core;
  sim::SimKeyboard keyboard{core};
};

TEST_F(SimKeyboardTest, ATapIsReportedOnceByTheNextQueryOfThatKey) {
  keyboard.Tap('A', 150);

  EXPECT_EQ(QueryAt(100, 'A'), 0);
  EXPECT_EQ(QueryAt(200, 'E'), 0);  // other keys neither see nor clear it
  EXPECT_EQ(QueryAt(200, 'A'), kPressed);
  EXPECT_EQ(QueryAt(300, 'A'), 0);
}

TEST_F(SimKeyboardTest, AHeldKeyReadsAsDownUntilItsRelease) {
  keyboard.Press('E', 100, 250);

  EXPECT_EQ(QueryAt(100, 'E'), kDownAndPressed);
  EXPECT_EQ(QueryAt(200, 'E'), kDown);
  EXPECT_EQ(QueryAt(250, 'E'), 0);
}

TEST_F(SimKeyboardTest, APressBeforeTheFirstQueryIsStillReported) {
  keyboard.Tap('Y', 0);
  keyboard.Hold('N', 10);

  EXPECT_EQ(QueryAt(5000, 'Y'), kPressed);
  EXPECT_EQ(QueryAt(5000, 'N'), kDownAndPressed);
  EXPECT_EQ(QueryAt(5100, 'N'), kDown);
}

TEST_F(SimKeyboardTest, RecordsEveryQueryWithItsTimeAndCallLogPosition) {
  core.calls.emplace_back(L"Something.Before");
  QueryAt(300, 'D');

  ASSERT_EQ(keyboard.queries().size(), 1u);
  EXPECT_EQ(keyboard.queries()[0].virtualKey, 'D');
  EXPECT_EQ(keyboard.queries()[0].atMs, 300u);
  EXPECT_EQ(keyboard.queries()[0].callIndex, 1u);
}

TEST(SimClockTest, SleepMovesSimulatedTimeAtOnce) {
  sim::SimCore core;
  sim::SimClock clock(core);
  core.nowMs = 40;

  clock.Sleep(100);
  clock.Sleep(1000);

  EXPECT_EQ(core.nowMs, 1140u);
  ASSERT_EQ(clock.sleeps().size(), 2u);
  EXPECT_EQ(clock.sleeps()[1].startMs, 140u);
  EXPECT_EQ(clock.TotalSleptMs(), 1100u);
}

}  // namespace
