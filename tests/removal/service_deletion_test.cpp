#include "removal/service_deletion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "removal/service_stop.h"
#include "tests/removal/removal_test_support.h"

namespace removal_test {
namespace {

using removal::RemoveService;
using removal::RestartAfterDeletion;

class RemoveServiceTest : public RemovalTest {};

TEST_F(RemoveServiceTest, DeletingTheFilterServiceNeedsNoRestart) {
  machine.services.Install(L"tslwfs");
  RemoveService(platform(), L"tslwfs", deletionContext, RestartAfterDeletion::kNotNeeded);
  EXPECT_EQ(Console(), L"Service deleted: tslwfs\n");
  EXPECT_FALSE(deletionContext.rebootNeeded);
  EXPECT_EQ(errorCount, 0);
  EXPECT_TRUE(machine.internet.exchanges().empty());
  // Gone once the handle was closed.
  EXPECT_FALSE(machine.services.Exists(L"tslwfs"));
  ExpectAllHandlesClosed();
}

TEST_F(RemoveServiceTest, DeletingTheDriverServiceNeedsARestart) {
  machine.services.Install(L"tsld");
  RemoveService(platform(), L"tsld", deletionContext, RestartAfterDeletion::kNeeded);
  EXPECT_EQ(Console(), L"Service deleted: tsld\n");
  EXPECT_TRUE(deletionContext.rebootNeeded);
  EXPECT_FALSE(machine.services.Exists(L"tsld"));
  ExpectAllHandlesClosed();
}

TEST_F(RemoveServiceTest, AGuardedServiceIsDeletedWithTheDeleteRightAlone) {
  machine.services.Install(L"tsld").refusedAccess = 0xF01FF & ~removal::kDeleteAccess;
  RemoveService(platform(), L"tsld", deletionContext, RestartAfterDeletion::kNeeded);
  EXPECT_EQ(Console(), L"Service deleted: tsld\n");
  EXPECT_EQ(machine.services.serviceAccesses(), std::vector<std::uint32_t>{0x10000u});
}

TEST_F(RemoveServiceTest, BothServicesInTheRunsOrder) {
  machine.services.Install(L"tslwfs");
  machine.services.Install(L"tsld");
  RemoveService(platform(), L"tslwfs", deletionContext, RestartAfterDeletion::kNotNeeded);
  EXPECT_FALSE(deletionContext.rebootNeeded);
  RemoveService(platform(), L"tsld", deletionContext, RestartAfterDeletion::kNeeded);
  EXPECT_EQ(Console(), L"Service deleted: tslwfs\nService deleted: tsld\n");
  EXPECT_TRUE(deletionContext.rebootNeeded);
  EXPECT_EQ(errorCount, 0);
}

class RemoveMarkedServiceTest : public RemovalTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RemoveMarkedServiceTest, MarkedServiceNeedsARestartAndIsNoFailure) {
  const std::wstring name = GetParam() ? L"tsld" : L"tslwfs";
  machine.services.InstallMarkedForDeletion(name);
  RemoveService(platform(), name, deletionContext,
                GetParam() ? RestartAfterDeletion::kNeeded : RestartAfterDeletion::kNotNeeded);
  EXPECT_EQ(Console(), L"Service marked for deletion: " + name + L"\n");
  EXPECT_TRUE(deletionContext.rebootNeeded);
  EXPECT_EQ(errorCount, 0);
  EXPECT_TRUE(machine.internet.exchanges().empty());
  EXPECT_TRUE(machine.services.Exists(name));
  ExpectAllHandlesClosed();
}

INSTANTIATE_TEST_SUITE_P(FilterAndDriver, RemoveMarkedServiceTest, ::testing::Bool());

TEST_F(RemoveServiceTest, WithoutRightsReportsTheOpenError) {
  machine.services.Install(L"tsld").fullAccessError = sim::kErrorAccessDenied;
  machine.SetConsoleWriteLastError(0);
  RemoveService(platform(), L"tsld", deletionContext, RestartAfterDeletion::kNeeded);
  EXPECT_EQ(Console(),
            L"ERROR deleting service: tsld. This requires Administrator access.\n"
            L"ERROR code: 5 Message: Access is denied.\r\n\n\n");
  EXPECT_FALSE(deletionContext.rebootNeeded);
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"SvcDelete", L"Need Administrator access"}}));
  EXPECT_TRUE(machine.services.Exists(L"tsld"));
  ExpectAllHandlesClosed();
}

TEST_F(RemoveServiceTest, RefusedDeletionIsReportedWithTheDeletionsError) {
  machine.services.Install(L"tsld").deleteError = sim::kErrorAccessDenied;
  machine.SetConsoleWriteLastError(0);
  RemoveService(platform(), L"tsld", deletionContext, RestartAfterDeletion::kNeeded);
  EXPECT_EQ(Console(),
            L"ERROR deleting service: tsld. System error: 5\n"
            L"ERROR code: 5 Message: Access is denied.\r\n\n\n");
  EXPECT_FALSE(deletionContext.rebootNeeded);
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"SvcDelete", L"tsld"}}));
  EXPECT_TRUE(machine.services.Exists(L"tsld"));
  ExpectAllHandlesClosed();
}

TEST_F(RemoveServiceTest, DeletionErrorIsWrittenUnsignedAndReportedSigned) {
  machine.services.Install(L"tslwfs").deleteError = 0xC0000022;
  RemoveService(platform(), L"tslwfs", deletionContext, RestartAfterDeletion::kNotNeeded);
  EXPECT_EQ(Console(),
            L"ERROR deleting service: tslwfs. System error: 3221225506\n"
            L"ERROR code: -1073741790\n\n");
  EXPECT_EQ(errorCount, 1);
}

TEST_F(RemoveServiceTest, FailuresNeverClearAPendingRestart) {
  deletionContext.rebootNeeded = true;
  machine.services.Install(L"tslwfs").deleteError = sim::kErrorAccessDenied;
  RemoveService(platform(), L"tslwfs", deletionContext, RestartAfterDeletion::kNotNeeded);
  machine.services.Install(L"tsld").fullAccessError = sim::kErrorAccessDenied;
  RemoveService(platform(), L"tsld", deletionContext, RestartAfterDeletion::kNeeded);
  EXPECT_TRUE(deletionContext.rebootNeeded);
  EXPECT_EQ(errorCount, 2);
}

TEST_F(RemoveServiceTest, NoRightsForTheDeletionWithTheFilterServiceAbsent) {
  // Without rights the stop of an absent filter service succeeds; the driver
  // service then cannot be deleted.
  machine.services.Install(L"tsld").fullAccessError = sim::kErrorAccessDenied;
  EXPECT_TRUE(removal::StopFilterService(platform(), context));
  EXPECT_FALSE(removal::ServiceExists(platform(), L"tslwfs", removal::Absence::kReported));
  ASSERT_TRUE(removal::ServiceExists(platform(), L"tsld", removal::Absence::kReported));
  RemoveService(platform(), L"tsld", deletionContext, RestartAfterDeletion::kNeeded);
  EXPECT_EQ(Console(),
            L"Service is not present: tslwfs\n"
            L"ERROR deleting service: tsld. This requires Administrator access.\n"
            L"ERROR code: 5 Message: Access is denied.\r\n\n\n");
  EXPECT_FALSE(deletionContext.rebootNeeded);
  EXPECT_EQ(errorCount, 1);
  ExpectAllHandlesClosed();
}

}  // namespace
}  // namespace removal_test
