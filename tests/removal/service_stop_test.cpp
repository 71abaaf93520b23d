#include "removal/service_stop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/removal/removal_test_support.h"

namespace removal_test {
namespace {

using platform::kScManagerConnect;
using platform::kServiceInterrogate;
using removal::Absence;
using removal::kDeleteAccess;
using removal::kStopAccess;
using removal::OpenServiceWithAccess;
using removal::PrintServiceState;
using removal::QueryServiceState;
using removal::ServiceExists;
using removal::StopFilterService;

const std::wstring kThirtyDots(30, L'.');
const std::wstring kWaitedThirtyPauses = L"Waiting for tslwfs to stop " + kThirtyDots;
// The full wait, the service still running at its end.
const std::wstring kStillRunningAfterTheWait =
    kWaitedThirtyPauses +
    L"\ntslwfs is running\n\nERROR stopping service: tslwfs\n"
    L"ERROR code: 4\n\n";

class ServiceExistsTest : public RemovalTest {};

TEST_F(ServiceExistsTest, InstalledServiceExistsSilentlyWithInterrogateRights) {
  machine.services.Install(L"tsld");
  EXPECT_TRUE(ServiceExists(platform(), L"tsld", Absence::kReported));
  EXPECT_EQ(Console(), L"");
  EXPECT_EQ(machine.services.managerAccesses(), std::vector<std::uint32_t>{kScManagerConnect});
  EXPECT_EQ(machine.services.serviceAccesses(), std::vector<std::uint32_t>{kServiceInterrogate});
  ExpectAllHandlesClosed();
}

TEST_F(ServiceExistsTest, AbsenceIsWrittenOnlyWhenAsked) {
  EXPECT_FALSE(ServiceExists(platform(), L"tsld", Absence::kSilent));
  EXPECT_EQ(Console(), L"");
  EXPECT_FALSE(ServiceExists(platform(), L"tsld", Absence::kReported));
  EXPECT_EQ(Console(), L"Service is not present: tsld\n");
  ExpectAllHandlesClosed();
}

TEST_F(ServiceExistsTest, AServiceThatRefusesToBeOpenedIsPresent) {
  // Only "does not exist" means absent: a guarded service is there.
  machine.services.Install(L"tslwfs").openError = sim::kErrorAccessDenied;
  EXPECT_TRUE(ServiceExists(platform(), L"tslwfs", Absence::kReported));
  EXPECT_EQ(Console(), L"");
  ExpectAllHandlesClosed();
}

TEST_F(ServiceExistsTest, NoConnectionMeansNoAnswerAndNoLine) {
  // Nothing known: present, so that the next step tries and reports.
  machine.services.SetManagerError(sim::kErrorAccessDenied);
  EXPECT_TRUE(ServiceExists(platform(), L"tslwfs", Absence::kReported));
  EXPECT_EQ(Console(), L"");
  ExpectAllHandlesClosed();
}

class OpenServiceWithAccessTest : public RemovalTest {};

TEST_F(OpenServiceWithAccessTest, OpensWithTheRightsAskedAndClosesTheConnection) {
  machine.services.Install(L"tsld");
  {
    const removal::OpenedService opened = OpenServiceWithAccess(platform(), L"tsld", kDeleteAccess);
    ASSERT_TRUE(opened.service);
    EXPECT_EQ(machine.services.managerAccesses(), std::vector<std::uint32_t>{kScManagerConnect});
    EXPECT_EQ(machine.services.serviceAccesses(), std::vector<std::uint32_t>{0x10000u});
    // Only the service handle is left for the caller.
    EXPECT_EQ(machine.services.OpenHandles(), 1u);
  }
  ExpectAllHandlesClosed();
}

TEST_F(OpenServiceWithAccessTest, HandsBackTheErrorOfTheFailedCall) {
  machine.services.Install(L"tsld").fullAccessError = sim::kErrorAccessDenied;
  // Closing the connection must not be able to change the error handed back.
  machine.core.lastError = 0;
  removal::OpenedService opened = OpenServiceWithAccess(platform(), L"tsld", kDeleteAccess);
  EXPECT_FALSE(opened.service);
  EXPECT_EQ(opened.error, sim::kErrorAccessDenied);

  opened = OpenServiceWithAccess(platform(), L"missing", kDeleteAccess);
  EXPECT_FALSE(opened.service);
  EXPECT_EQ(opened.error, sim::kErrorServiceDoesNotExist);

  machine.services.SetManagerError(sim::kErrorAccessDenied);
  machine.core.lastError = 0;
  opened = OpenServiceWithAccess(platform(), L"tsld", kDeleteAccess);
  EXPECT_FALSE(opened.service);
  EXPECT_EQ(opened.error, sim::kErrorAccessDenied);
  EXPECT_EQ(machine.services.serviceAccesses().size(), 2u);
  ExpectAllHandlesClosed();
}

class QueryServiceStateTest : public RemovalTest {};

TEST_F(QueryServiceStateTest, FailedQueryGivesNoKnownState) {
  sim::SimService& service = machine.services.Install(L"tslwfs", platform::kServiceRunning);
  const removal::OpenedService opened = OpenServiceWithAccess(platform(), L"tslwfs", kStopAccess);
  ASSERT_TRUE(opened.service);
  EXPECT_EQ(QueryServiceState(platform(), opened.service.get()), platform::kServiceRunning);
  service.queryError = sim::kErrorAccessDenied;
  EXPECT_EQ(QueryServiceState(platform(), opened.service.get()), removal::kServiceStateUnknown);
}

TEST(PrintServiceStateTest, KnownStatesHaveNoLineEndUnknownOnesHaveOne) {
  sim::SimMachine machine;
  for (std::uint32_t state : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 0u, 8u, 9u, 0xFFFFFFFFu}) {
    PrintServiceState(machine.platform(), state);
    machine.console << L"|";
  }
  EXPECT_EQ(machine.console.str(),
            L"stopped|start pending|stop pending|running|continue pending|pause pending|paused|"
            L"Unknown status: 0\n|Unknown status: 8\n|Unknown status: 9\n|"
            L"Unknown status: -1\n|");
}

class StopFilterServiceTest : public RemovalTest {
 protected:
  sim::SimService& Install(std::uint32_t state) {
    return machine.services.Install(L"tslwfs", state);
  }
  std::vector<std::uint32_t> Controls() { return machine.services.Find(L"tslwfs")->controls; }
};

TEST_F(StopFilterServiceTest, AbsentServiceNeedsNothing) {
  EXPECT_TRUE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), L"");
  EXPECT_EQ(errorCount, 0);
  EXPECT_TRUE(machine.internet.exchanges().empty());
  ExpectAllHandlesClosed();
}

TEST_F(StopFilterServiceTest, AlreadyStoppedGetsNoRequest) {
  Install(platform::kServiceStopped);
  EXPECT_TRUE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), L"tslwfs is stopped\n");
  EXPECT_TRUE(Controls().empty());
  EXPECT_EQ(errorCount, 0);
  ExpectAllHandlesClosed();
}

TEST_F(StopFilterServiceTest, AGuardedServiceIsStoppedWithTheRightsItGrants) {
  // It refuses full access, as a web filter guarding itself does.
  Install(platform::kServiceRunning).refusedAccess = 0xF01FF & ~(kStopAccess | kServiceInterrogate);
  EXPECT_TRUE(StopFilterService(platform(), context));
  EXPECT_EQ(machine.services.serviceAccesses(), (std::vector<std::uint32_t>{0x80u, 0x24u}));
  EXPECT_EQ(machine.services.managerAccesses(), std::vector<std::uint32_t>(2, kScManagerConnect));
}

TEST_F(StopFilterServiceTest, RunningServiceThatStopsAtOnceGetsNoDot) {
  Install(platform::kServiceRunning).stopAfter = 1;
  EXPECT_TRUE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), L"Waiting for tslwfs to stop \ntslwfs is stopped\n");
  EXPECT_EQ(Controls(), std::vector<std::uint32_t>{platform::kServiceControlStop});
  EXPECT_TRUE(machine.clock.sleeps().empty());
  EXPECT_FALSE(machine.services.Find(L"tslwfs")->markedForDeletion);
  ExpectAllHandlesClosed();
}

TEST_F(StopFilterServiceTest, OneDotPerPauseUntilStopped) {
  Install(platform::kServiceRunning).stopAfter = 3;
  EXPECT_TRUE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), L"Waiting for tslwfs to stop ..\ntslwfs is stopped\n");
  EXPECT_EQ(machine.clock.SleepLengths(), (std::vector<std::uint32_t>{1000, 1000}));
  EXPECT_EQ(errorCount, 0);
}

TEST_F(StopFilterServiceTest, ServiceThatTakesItsTimeIsWaitedForInSimulatedTime) {
  sim::SimService& service = Install(platform::kServiceRunning);
  service.stopBehaviour = sim::StopBehaviour::kStopsAfterMs;
  service.stopAfter = 2500;
  EXPECT_TRUE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), L"Waiting for tslwfs to stop ...\ntslwfs is stopped\n");
  EXPECT_EQ(machine.core.nowMs, 3000u);
}

TEST_F(StopFilterServiceTest, StoppingAtTheLastReadStillCounts) {
  // The first read and one read after each of the 30 pauses: 31 in all.
  Install(platform::kServiceRunning).stopAfter = 31;
  EXPECT_TRUE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), kWaitedThirtyPauses + L"\ntslwfs is stopped\n");
}

TEST_F(StopFilterServiceTest, StillStoppingAfterThirtyPausesFails) {
  Install(platform::kServiceRunning).stopAfter = 32;
  EXPECT_FALSE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), kWaitedThirtyPauses +
                           L"\ntslwfs is stop pending\n\nERROR stopping service: tslwfs\n"
                           L"ERROR code: 3\n\n");
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"SvcStop", L"tslwfs"}}));
}

TEST_F(StopFilterServiceTest, ServiceIgnoringTheStopFailsWithItsStateAfterThirtySeconds) {
  Install(platform::kServiceRunning).stopBehaviour = sim::StopBehaviour::kIgnoresStop;
  EXPECT_FALSE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), kStillRunningAfterTheWait);
  EXPECT_EQ(machine.core.nowMs, 30000u);
  EXPECT_EQ(machine.clock.SleepLengths(), std::vector<std::uint32_t>(30, 1000));
  // One read before deciding to stop, then at most 31 while waiting.
  EXPECT_EQ(machine.services.Find(L"tslwfs")->statusQueries, 1 + 31);
  EXPECT_EQ(Controls(), std::vector<std::uint32_t>{platform::kServiceControlStop});
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"SvcStop", L"tslwfs"}}));
  ExpectAllHandlesClosed();
}

TEST_F(StopFilterServiceTest, RefusedStopRequestIsJudgedByTheStateAlone) {
  Install(platform::kServiceRunning).stopBehaviour = sim::StopBehaviour::kRefusesControl;
  EXPECT_FALSE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), kStillRunningAfterTheWait);
  EXPECT_EQ(errorCount, 1);
}

struct OtherFirstState {
  std::uint32_t state;
  const wchar_t* text;
};

class StopFilterServiceOtherStateTest : public StopFilterServiceTest,
                                        public ::testing::WithParamInterface<OtherFirstState> {};

TEST_P(StopFilterServiceOtherStateTest, IsLeftAloneAndFails) {
  Install(GetParam().state);
  // A state is no system error code: its number is not looked up.
  machine.errors.SetText(GetParam().state, L"Text.\r\n");
  EXPECT_FALSE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), std::wstring(L"tslwfs is ") + GetParam().text +
                           L"\n\nERROR stopping service: tslwfs\nERROR code: " +
                           std::to_wstring(GetParam().state) + L"\n\n");
  EXPECT_TRUE(Controls().empty());
  EXPECT_TRUE(machine.clock.sleeps().empty());
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"SvcStop", L"tslwfs"}}));
  EXPECT_EQ(machine.services.Find(L"tslwfs")->state, GetParam().state);
  ExpectAllHandlesClosed();
}

INSTANTIATE_TEST_SUITE_P(PendingAndPaused, StopFilterServiceOtherStateTest,
                         ::testing::Values(OtherFirstState{2, L"start pending"},
                                           OtherFirstState{3, L"stop pending"},
                                           OtherFirstState{5, L"continue pending"},
                                           OtherFirstState{6, L"pause pending"},
                                           OtherFirstState{7, L"paused"}));

TEST_F(StopFilterServiceTest, UnknownStateBringsItsOwnLineEnd) {
  Install(9);
  EXPECT_FALSE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(),
            L"tslwfs is Unknown status: 9\n\n\nERROR stopping service: tslwfs\nERROR code: 9\n\n");
  EXPECT_EQ(errorCount, 1);
}

TEST_F(StopFilterServiceTest, StateThatCannotBeReadFailsTheStop) {
  sim::SimService& service = Install(platform::kServiceStopped);
  service.queryError = sim::kErrorAccessDenied;
  EXPECT_FALSE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(),
            L"tslwfs is Unknown status: 0\n\n\nERROR stopping service: tslwfs\nERROR code: 0\n\n");
  EXPECT_TRUE(Controls().empty());
  ExpectAllHandlesClosed();
}

TEST_F(StopFilterServiceTest, AGuardedServiceAlreadyStoppedNeedsNoStopRight) {
  Install(platform::kServiceStopped).refusedAccess = platform::kServiceStop;
  EXPECT_TRUE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(), L"tslwfs is stopped\n");
  EXPECT_EQ(machine.services.serviceAccesses(),
            (std::vector<std::uint32_t>{kServiceInterrogate, kStopAccess, 0x04u}));
  EXPECT_EQ(errorCount, 0);
  EXPECT_TRUE(machine.internet.exchanges().empty());
  ExpectAllHandlesClosed();
}

struct NoRights {
  const char* name;
  bool managerRefuses;
  // Refuses only the stop right; its state can still be read.
  bool guardsStop = false;
};

class StopFilterServiceNoRightsTest : public StopFilterServiceTest,
                                      public ::testing::WithParamInterface<NoRights> {};

TEST_P(StopFilterServiceNoRightsTest, ReportsTheOpenErrorAndTouchesNothing) {
  sim::SimService& service = Install(platform::kServiceRunning);
  // Refused even to the existence test, which then cannot say "absent".
  if (GetParam().managerRefuses) {
    machine.services.SetManagerError(sim::kErrorAccessDenied);
  } else if (GetParam().guardsStop) {
    service.refusedAccess = platform::kServiceStop;
  } else {
    service.openError = sim::kErrorAccessDenied;
  }
  // The code reported is the open's, whatever the console writes do to the
  // thread's last error in between.
  machine.SetConsoleWriteLastError(0);
  EXPECT_FALSE(StopFilterService(platform(), context));
  EXPECT_EQ(Console(),
            L"tessel_remove requires Administrator access.\n"
            L"ERROR code: 5 Message: Access is denied.\r\n\n\n");
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"SvcStop", L"Need Administrator access"}}));
  EXPECT_EQ(service.state, platform::kServiceRunning);
  EXPECT_TRUE(Controls().empty());
  ExpectAllHandlesClosed();
}

INSTANTIATE_TEST_SUITE_P(ManagerOrService, StopFilterServiceNoRightsTest,
                         ::testing::Values(NoRights{"Manager", true}, NoRights{"Service", false},
                                           NoRights{"GuardedRunning", false, true}),
                         [](const ::testing::TestParamInfo<NoRights>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace removal_test
