#include "removal/failure_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "tests/removal/removal_test_support.h"
#include "tests/sim/sim_text.h"

namespace removal_test {
namespace {

using removal::PrintSystemError;
using removal::ReportFailure;

class FailureReportTest : public RemovalTest {};

TEST_F(FailureReportTest, CountsSendsThenPrintsTheSystemText) {
  ReportFailure(platform(), context, L"FileDelete", 5, kInstallDirectory);

  EXPECT_EQ(errorCount, 1);
  ASSERT_EQ(machine.internet.exchanges().size(), 1u);
  EXPECT_EQ(machine.internet.exchanges()[0].body,
            sim::WithVersion(
                "product=tessel_remove&version={version}&error=FileDelete&language=en&module=error"
                "&build=3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f"
                "&message=C%3A%5CProgram%20Files%5COrvane%20Tessel%20Web%20Protection&ping"));
  // The system's text keeps its own line break; two line ends follow it.
  EXPECT_EQ(Console(), L"ERROR code: 5 Message: Access is denied.\r\n\n\n");
  // The text is asked for only once the exchange is over.
  EXPECT_LT(FirstCall(L"Internet."), FirstCall(L"Messages.FormatSystemMessage"));
  EXPECT_LT(FirstCall(L"Internet.CloseHandle"), FirstCall(L"Messages.FormatSystemMessage"));
  ExpectAllHandlesClosed();
}

TEST_F(FailureReportTest, CodeWithoutSystemTextHasNoMessagePart) {
  ReportFailure(platform(), context, L"FileDelete", 0x402, kDriverFile);
  EXPECT_EQ(Console(), L"ERROR code: 1026\n\n");
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"FileDelete", kDriverFile}}));
}

TEST_F(FailureReportTest, CodesWithTheHighBitPrintNegative) {
  PrintSystemError(platform(), 0x80070005);
  machine.errors.SetText(0xFFFFFFFF, L"Minus one.\r\n");
  PrintSystemError(platform(), 0xFFFFFFFF);
  EXPECT_EQ(Console(), L"ERROR code: -2147024891\n\nERROR code: -1 Message: Minus one.\r\n\n\n");
}

TEST_F(FailureReportTest, TextIsPrintedExactlyAsTheSystemGivesIt) {
  machine.errors.SetText(1234, L"First line.\r\nSecond line.\r\n");
  PrintSystemError(platform(), 1234);
  EXPECT_EQ(Console(), L"ERROR code: 1234 Message: First line.\r\nSecond line.\r\n\n\n");
  EXPECT_EQ(errorCount, 0);
}

TEST_F(FailureReportTest, WithoutLabelCountsAndPrintsButSendsNothing) {
  ReportFailure(platform(), context, nullptr, 2, L"ignored");
  EXPECT_EQ(errorCount, 1);
  EXPECT_TRUE(machine.internet.exchanges().empty());
  EXPECT_EQ(machine.internet.attemptConnectCalls(), 0u);
  EXPECT_EQ(Console(),
            L"ERROR code: 2 Message: The system cannot find the file specified.\r\n\n\n");
}

TEST_F(FailureReportTest, TheCounterStopsAtItsLargestValue) {
  errorCount = std::numeric_limits<std::int32_t>::max() - 1;
  ReportFailure(platform(), context, nullptr, 2, L"one");
  EXPECT_EQ(errorCount, std::numeric_limits<std::int32_t>::max());
  ReportFailure(platform(), context, nullptr, 2, L"two");
  EXPECT_EQ(errorCount, std::numeric_limits<std::int32_t>::max());
}

TEST_F(FailureReportTest, UndeliveredTelemetryChangesNothing) {
  machine.internet.SetSendOutcome(sim::SendOutcome::kRefused);
  ReportFailure(platform(), context, L"RegDelete", 5, kVendorKey);
  machine.internet.SetAttemptConnectResult(12029);
  ReportFailure(platform(), context, L"RegDelete", 5, kUninstallKey);
  EXPECT_EQ(errorCount, 2);
  EXPECT_EQ(Console(),
            L"ERROR code: 5 Message: Access is denied.\r\n\n\n"
            L"ERROR code: 5 Message: Access is denied.\r\n\n\n");
  ExpectAllHandlesClosed();
}

TEST_F(FailureReportTest, BothContextsCountIntoOneCounterUnderOneRunId) {
  ReportFailure(platform(), context, L"SvcStop", 4, L"tslwfs");
  ReportFailure(platform(), deletionContext, L"SvcDelete", 5, L"Need Administrator access");
  EXPECT_EQ(errorCount, 2);
  EXPECT_FALSE(deletionContext.rebootNeeded);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"SvcStop", L"tslwfs"},
                                                    {L"SvcDelete", L"Need Administrator access"}}));
}

}  // namespace
}  // namespace removal_test
