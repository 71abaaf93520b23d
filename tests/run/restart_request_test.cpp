#include "run/restart_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/sim/sim_machine.h"

namespace {

constexpr wchar_t kQuestion[] =
    L"\nCan the computer be restarted to complete the removal procedure?\n"
    L"Press the 'Y' key to restart, otherwise the 'N' key to manually restart.\n";
constexpr wchar_t kManualRestart[] =
    L"\n\nPlease manually restart the computer to complete the removal procedure.";
constexpr wchar_t kRequestFailed[] =
    L"\nERROR: The restart request failed.  Please manually reboot to complete the removal "
    L"process.\n";

constexpr int N = 'N';
constexpr int Y = 'Y';

bool Ask(sim::SimMachine& machine) {
  return run::AskRestart(machine.platform(), *run::OpenPromptKeys(machine.platform()));
}

bool OfferOn(sim::SimMachine& machine) {
  return run::OfferRestart(machine.platform(), *run::OpenPromptKeys(machine.platform()));
}

class AskRestartTest : public ::testing::Test {
 protected:
  sim::SimMachine machine;
};

TEST_F(AskRestartTest, YesIsReadFirstInEachPassThenNoThenThePause) {
  machine.keyboard.Tap(Y, 250);

  EXPECT_TRUE(Ask(machine));

  EXPECT_EQ(machine.console.str(), kQuestion);
  // One pass to drop earlier presses, then Y once, then N, pause, Y ...
  const std::vector<int> expected = {Y, N, Y, N, Y, N, Y, N, Y};
  EXPECT_EQ(machine.keyboard.QueriedKeys(), expected);
  EXPECT_EQ(machine.clock.SleepLengths(), (std::vector<std::uint32_t>(3, 100)));
}

TEST_F(AskRestartTest, NoLeavesTheManualRestartLineOpen) {
  machine.keyboard.Tap(N, 150);

  EXPECT_FALSE(Ask(machine));

  EXPECT_EQ(machine.console.str(), std::wstring(kQuestion) + kManualRestart);
  EXPECT_EQ(machine.keyboard.QueriedKeys(), (std::vector<int>{Y, N, Y, N, Y, N, Y, N}));
  EXPECT_EQ(machine.core.nowMs, 200u);
}

TEST_F(AskRestartTest, YesWinsWhenBothAreHeld) {
  machine.keyboard.Hold(N, 0);
  machine.keyboard.Hold(Y, 0);

  EXPECT_TRUE(Ask(machine));

  EXPECT_EQ(machine.keyboard.QueriedKeys(), (std::vector<int>{Y, N, Y}));
  EXPECT_EQ(machine.console.str(), kQuestion);
}

TEST_F(AskRestartTest, InAConsoleKeysTypedTogetherCountForNothing) {
  machine.keyboard.SetConsoleInput(true);
  machine.keyboard.Type(N, 150, 200);
  machine.keyboard.Type(Y, 150, 200);  // in the same pass, after the N
  machine.keyboard.Type(N, 400, 450);

  EXPECT_FALSE(Ask(machine));

  EXPECT_EQ(machine.console.str(), std::wstring(kQuestion) + kManualRestart);
  EXPECT_EQ(machine.core.nowMs, 400u);
}

TEST_F(AskRestartTest, PressesMadeBeforeTheQuestionDoNotCount) {
  machine.core.nowMs = 40000;
  machine.keyboard.Tap(Y, 12000);  // during the telemetry pause, before the question
  machine.keyboard.Tap(N, 40120);

  EXPECT_FALSE(Ask(machine));

  EXPECT_EQ(machine.core.nowMs, 40200u);

  // In a console: more records than one read takes, the Y among the last.
  sim::SimMachine m;
  m.keyboard.SetConsoleInput(true);
  m.keyboard.SendFromTerminal(0, std::wstring(64, L'x'));
  m.keyboard.Type(Y, 0, 0);
  m.keyboard.Type(N, 120, 200);
  EXPECT_FALSE(Ask(m));
  EXPECT_EQ(m.core.nowMs, 120u);
}

class OfferRestartTest : public ::testing::Test {
 protected:
  bool Offer() { return OfferOn(machine); }

  void ExpectTokenClosed() const {
    EXPECT_EQ(machine.power.tokensOpened(), 1);
    EXPECT_EQ(machine.power.OpenTokens(), 0);
    EXPECT_EQ(machine.power.badCloses(), 0);
  }

  sim::SimMachine machine;
};

TEST_F(OfferRestartTest, NoAsksNothingOfTheSystem) {
  machine.keyboard.Tap(N, 50);

  EXPECT_FALSE(Offer());

  EXPECT_EQ(machine.console.str(), std::wstring(kQuestion) + kManualRestart);
  EXPECT_TRUE(machine.power.tokenAccessRequests().empty());
  EXPECT_TRUE(machine.power.exitRequests().empty());
}

TEST_F(OfferRestartTest, YesEnablesTheShutdownPrivilegeAndRequestsARestartThatLetsAppsSave) {
  machine.keyboard.Tap(Y, 50);

  EXPECT_TRUE(Offer());

  EXPECT_EQ(machine.console.str(), kQuestion);
  EXPECT_EQ(machine.power.tokenAccessRequests(), (std::vector<std::uint32_t>{0x28}));
  EXPECT_EQ(machine.power.lookups(), (std::vector<std::wstring>{L"SeShutdownPrivilege"}));
  ASSERT_EQ(machine.power.adjustments().size(), 1u);
  EXPECT_EQ(machine.power.adjustments()[0].id.lowPart, sim::SimPower::kShutdownPrivilegeId.lowPart);
  EXPECT_EQ(machine.power.adjustments()[0].attributes, 2u);
  ASSERT_EQ(machine.power.exitRequests().size(), 1u);
  // EWX_REBOOT | EWX_FORCEIFHUNG, never EWX_FORCE, which loses unsaved work.
  EXPECT_EQ(machine.power.exitRequests()[0].flags, 0x12u);
  EXPECT_EQ(machine.power.exitRequests()[0].reason, 0x80020003u);
  EXPECT_EQ(machine.core.calls.end()[-2], L"Power.ExitWindows 0x12 0x80020003");
  EXPECT_TRUE(machine.power.restarting());
  ExpectTokenClosed();
}

TEST_F(OfferRestartTest, OutsideTheInteractiveUsersSessionTheSystemRestartsTheMachine) {
  // A remote shell's window station, another user's desktop shell, ExitWindowsEx refused, a
  // window station that cannot be asked about: SHUTDOWN_RESTART (applications are asked to
  // close), the same reason, no grace period.
  for (int way = 0; way < 4; ++way) {
    sim::SimMachine m;
    m.power.SetWindowStationFlags(way == 0 ? 0 : platform::kWindowStationVisible);
    m.shell.SetDesktopShellUserIsOther(way == 1);
    if (way == 2) m.power.RefuseExitWindows(5);
    if (way == 3) m.power.SetWindowStationFlags(std::nullopt);
    m.keyboard.Tap(Y, 50);
    EXPECT_TRUE(OfferOn(m)) << way;
    EXPECT_EQ(m.core.calls.end()[-2], L"Power.InitiateShutdown 0x4 0x80020003 0");
  }
}

TEST_F(OfferRestartTest, AFailedRequestTellsTheUserToRestartByHand) {
  struct Case {
    const char* name;
    void (*setUp)(sim::SimPower&);
    int tokensOpened;
    bool exitRequested;
  };
  const Case cases[] = {
      {"the token cannot be opened", [](sim::SimPower& p) { p.FailOpenToken(5); }, 0, false},
      {"the privilege is not held (1300)", [](sim::SimPower& p) { p.SetAdjustLastError(1300); }, 1,
       false},
      {"the adjustment fails", [](sim::SimPower& p) { p.FailAdjust(5); }, 1, false},
      {"the privilege lookup fails", [](sim::SimPower& p) { p.FailLookup(1313); }, 1, false},
      {"ExitWindowsEx refuses", [](sim::SimPower& p) { p.RefuseExitWindows(1115); }, 1, true},
      {"in a remote shell", [](sim::SimPower& p) { p.SetWindowStationFlags(0); }, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine m;
    c.setUp(m.power);
    m.power.RefuseInitiateShutdown(1190);  // others are signed in
    m.keyboard.Tap(Y, 50);

    EXPECT_FALSE(OfferOn(m));

    EXPECT_EQ(m.console.str(), std::wstring(kQuestion) + kRequestFailed);
    EXPECT_EQ(m.power.tokensOpened(), c.tokensOpened);
    EXPECT_EQ(m.power.OpenTokens(), 0);
    EXPECT_EQ(m.power.badCloses(), 0);
    EXPECT_EQ(m.power.exitRequests().size(), c.exitRequested ? 1u : 0u);
    // Nothing is asked of the system without the privilege.
    EXPECT_EQ(std::count(m.core.calls.begin(), m.core.calls.end(),
                         L"Power.InitiateShutdown 0x4 0x80020003 0"),
              m.power.shutdownEnabled() ? 1 : 0);
    EXPECT_FALSE(m.power.restarting());
  }
}

TEST_F(OfferRestartTest, TheLastErrorIsReadRightAfterTheAdjustment) {
  // Console writes that set the last error must not be mistaken for a failed
  // adjustment, nor hide one.
  machine.SetConsoleWriteLastError(5);
  machine.keyboard.Tap(Y, 50);

  EXPECT_TRUE(Offer());
  ExpectTokenClosed();
}

}  // namespace
