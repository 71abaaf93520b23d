#include "removal/registry_removal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/removal/removal_test_support.h"

namespace removal_test {
namespace {

using removal::DeleteRegistryKey;
using removal::KeyLines;
using removal::RegistryKeyExists;
using sim::RegistryView;

const std::wstring kProduct = kProductKey;
const std::wstring kVendor = kVendorKey;
const std::wstring kUninstall = kUninstallKey;

// Runs on a 32-bit system (false) and under WOW64 (true); the product's keys
// live in the native view either way.
class DeleteRegistryKeyTest : public RemovalTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override { machine.SetWow64(GetParam()); }

  void InstallAllKeys(RegistryView view = RegistryView::kNative) {
    machine.registry.AddKey(kProduct, view);
    machine.registry.AddKey(kUninstall, view);
  }

  // The run's three calls, in its order.
  void DeleteTheRunsKeys() {
    DeleteRegistryKey(platform(), kProduct, context, KeyLines::kFailuresOnly);
    DeleteRegistryKey(platform(), kVendor, context, KeyLines::kEveryOutcome);
    DeleteRegistryKey(platform(), kUninstall, context, KeyLines::kEveryOutcome);
  }

  // The deletions used the call that fits the system, in the native view.
  void ExpectDeletionCallsFitTheSystem() {
    if (GetParam()) {
      EXPECT_EQ(machine.registry.deleteKeyCalls(), 0);
      for (std::uint32_t access : machine.registry.deleteKeyExAccesses()) {
        EXPECT_EQ(access, 0x104u);
      }
    } else {
      EXPECT_EQ(machine.registry.deleteKeyExLookups(), 0);
    }
    for (const sim::KeyOpen& open : machine.registry.opens()) {
      EXPECT_EQ(open.access, GetParam() ? 0x20119u : 0x20019u);
      EXPECT_EQ(open.view, RegistryView::kNative);
    }
  }
};

TEST_P(DeleteRegistryKeyTest, CleanMachineWritesTheTwoLoudAbsences) {
  DeleteTheRunsKeys();
  EXPECT_EQ(Console(),
            L"Registry key is not present: SOFTWARE\\Orvane Systems\n"
            L"Registry key is not present: SOFTWARE\\Microsoft\\Windows\\"
            L"CurrentVersion\\Uninstall\\Orvane Tessel Web Protection\n");
  EXPECT_EQ(errorCount, 0);
  EXPECT_EQ(machine.registry.deleteKeyCalls() + machine.registry.deleteKeyExLookups(), 0);
  ExpectDeletionCallsFitTheSystem();
  ExpectAllHandlesClosed();
}

TEST_P(DeleteRegistryKeyTest, AllKeysPresentAreDeletedTheProductKeyQuietly) {
  InstallAllKeys();
  DeleteTheRunsKeys();
  EXPECT_EQ(Console(),
            L"Registry key deleted: SOFTWARE\\Orvane Systems\n"
            L"Registry key deleted: SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
            L"Uninstall\\Orvane Tessel Web Protection\n");
  EXPECT_FALSE(machine.registry.HasKey(kProduct));
  EXPECT_FALSE(machine.registry.HasKey(kVendor));
  EXPECT_FALSE(machine.registry.HasKey(kUninstall));
  EXPECT_TRUE(machine.registry.HasKey(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
  EXPECT_EQ(errorCount, 0);
  EXPECT_TRUE(machine.internet.exchanges().empty());
  EXPECT_EQ(machine.registry.deleteKeyCalls() + machine.registry.deleteKeyExLookups(), 3);
  ExpectDeletionCallsFitTheSystem();
  ExpectAllHandlesClosed();
}

TEST_P(DeleteRegistryKeyTest, VendorKeyHoldingAnotherProductFails) {
  InstallAllKeys();
  machine.registry.AddKey(kVendor + L"\\Other Product");
  machine.SetConsoleWriteLastError(0);
  DeleteTheRunsKeys();
  EXPECT_EQ(Console(),
            L"\nERROR deleting key: SOFTWARE\\Orvane Systems\n"
            L"ERROR code: 5 Message: Access is denied.\r\n\n\n"
            L"Registry key deleted: SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
            L"Uninstall\\Orvane Tessel Web Protection\n");
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"RegDelete", kVendor}}));
  EXPECT_FALSE(machine.registry.HasKey(kProduct));
  EXPECT_TRUE(machine.registry.HasKey(kVendor + L"\\Other Product"));
  ExpectDeletionCallsFitTheSystem();
  ExpectAllHandlesClosed();
}

TEST_P(DeleteRegistryKeyTest, ProductKeyWithSubkeysFailsLoudlyAndTakesItsParentAlong) {
  InstallAllKeys();
  machine.registry.AddKey(kProduct + L"\\Settings");
  DeleteTheRunsKeys();
  EXPECT_EQ(Console(),
            L"\nERROR deleting key: SOFTWARE\\Orvane Systems\\Tessel\n"
            L"ERROR code: 5 Message: Access is denied.\r\n\n\n"
            L"\nERROR deleting key: SOFTWARE\\Orvane Systems\n"
            L"ERROR code: 5 Message: Access is denied.\r\n\n\n"
            L"Registry key deleted: SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
            L"Uninstall\\Orvane Tessel Web Protection\n");
  EXPECT_EQ(errorCount, 2);
  EXPECT_EQ(ErrorEvents(),
            (std::vector<ErrorEvent>{{L"RegDelete", kProduct}, {L"RegDelete", kVendor}}));
  EXPECT_TRUE(machine.registry.HasKey(kProduct + L"\\Settings"));
  ExpectAllHandlesClosed();
}

TEST_P(DeleteRegistryKeyTest, KeyThatCannotBeOpenedIsThereAndDeleted) {
  // A guarded key refuses to be read; only "not found" means absent.
  machine.registry.AddKey(kUninstall);
  machine.registry.FailOpen(kUninstall, RegistryView::kNative, sim::kRegistryAccessDenied);
  DeleteRegistryKey(platform(), kUninstall, context, KeyLines::kEveryOutcome);
  EXPECT_EQ(Console(), L"Registry key deleted: " + kUninstall + L"\n");
  EXPECT_FALSE(machine.registry.HasKey(kUninstall));
  EXPECT_EQ(errorCount, 0);
}

TEST_P(DeleteRegistryKeyTest, OtherRefusalsAreReportedWithTheStatus) {
  machine.registry.AddKey(kUninstall);
  machine.registry.FailDelete(kUninstall, RegistryView::kNative, 1018);
  DeleteRegistryKey(platform(), kUninstall, context, KeyLines::kFailuresOnly);
  EXPECT_EQ(Console(), L"\nERROR deleting key: " + kUninstall + L"\nERROR code: 1018\n\n");
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"RegDelete", kUninstall}}));
}

INSTANTIATE_TEST_SUITE_P(Systems, DeleteRegistryKeyTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return std::string(param.param ? "Wow64" : "Native32");
                         });

class DeleteRegistryKeyWow64Test : public RemovalTest {
 protected:
  void SetUp() override { machine.SetWow64(true); }
};

TEST_F(DeleteRegistryKeyWow64Test, KeysOnlyInThe32BitViewAreLeftAlone) {
  machine.registry.AddKey(kProduct, RegistryView::kWow32);
  machine.registry.AddKey(kUninstall, RegistryView::kWow32);
  DeleteRegistryKey(platform(), kProduct, context, KeyLines::kFailuresOnly);
  DeleteRegistryKey(platform(), kVendor, context, KeyLines::kEveryOutcome);
  DeleteRegistryKey(platform(), kUninstall, context, KeyLines::kEveryOutcome);
  EXPECT_EQ(Console(), L"Registry key is not present: " + kVendor +
                           L"\nRegistry key is not present: " + kUninstall + L"\n");
  EXPECT_TRUE(machine.registry.HasKey(kProduct, RegistryView::kWow32));
  EXPECT_TRUE(machine.registry.HasKey(kUninstall, RegistryView::kWow32));
  EXPECT_EQ(machine.registry.deleteKeyExLookups(), 0);
}

TEST_F(DeleteRegistryKeyWow64Test, OnlyTheNativeViewIsDeletedWhenBothHaveTheKey) {
  machine.registry.AddKey(kUninstall, RegistryView::kNative);
  machine.registry.AddKey(kUninstall, RegistryView::kWow32);
  DeleteRegistryKey(platform(), kUninstall, context, KeyLines::kEveryOutcome);
  EXPECT_EQ(Console(), L"Registry key deleted: " + kUninstall + L"\n");
  EXPECT_FALSE(machine.registry.HasKey(kUninstall, RegistryView::kNative));
  EXPECT_TRUE(machine.registry.HasKey(kUninstall, RegistryView::kWow32));
}

TEST_F(DeleteRegistryKeyWow64Test, MissingDeleteKeyExIsAFailureWithoutFallback) {
  machine.registry.AddKey(kUninstall);
  machine.registry.AddKey(kUninstall, RegistryView::kWow32);
  machine.registry.SetDeleteKeyExPresent(false);
  DeleteRegistryKey(platform(), kUninstall, context, KeyLines::kEveryOutcome);
  EXPECT_EQ(Console(), L"\nERROR deleting key: " + kUninstall +
                           L"\nERROR code: 127 Message: The specified procedure could not be "
                           L"found.\r\n\n\n");
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"RegDelete", kUninstall}}));
  EXPECT_EQ(machine.registry.deleteKeyCalls(), 0);
  EXPECT_TRUE(machine.registry.HasKey(kUninstall));
  EXPECT_TRUE(machine.registry.HasKey(kUninstall, RegistryView::kWow32));
  ExpectAllHandlesClosed();
}

TEST_F(DeleteRegistryKeyWow64Test, Wow64IsAskedAgainForTheDeletion) {
  machine.registry.AddKey(kUninstall);
  DeleteRegistryKey(platform(), kUninstall, context, KeyLines::kEveryOutcome);
  EXPECT_EQ(machine.process.calls(), 2);
}

TEST_F(DeleteRegistryKeyWow64Test, MissingIsWow64ProcessMeansThe32BitCalls) {
  // Without the entry the process counts as a 32-bit one on a 32-bit system,
  // so it sees (and deletes in) its own view.
  machine.process.SetEntry(sim::SimProcess::Entry::kMissing);
  machine.registry.AddKey(kUninstall, RegistryView::kWow32);
  DeleteRegistryKey(platform(), kUninstall, context, KeyLines::kEveryOutcome);
  EXPECT_EQ(machine.registry.deleteKeyCalls(), 1);
  EXPECT_EQ(machine.registry.deleteKeyExLookups(), 0);
  EXPECT_EQ(machine.registry.opens().at(0).access, 0x20019u);
}

TEST(RegistryKeyExistsTest, OpensForReadingAndClosesAgain) {
  sim::SimMachine machine;
  machine.registry.AddKey(kVendor);
  EXPECT_TRUE(RegistryKeyExists(machine.platform(), kVendor));
  EXPECT_TRUE(RegistryKeyExists(machine.platform(), L"software\\orvane systems"));
  EXPECT_FALSE(RegistryKeyExists(machine.platform(), kProduct));
  EXPECT_EQ(machine.registry.OpenHandles(), 0u);
  EXPECT_TRUE(machine.registry.misuses().empty());
  EXPECT_EQ(machine.console.str(), L"");
}

}  // namespace
}  // namespace removal_test
