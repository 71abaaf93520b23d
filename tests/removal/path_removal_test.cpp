#include "removal/path_removal.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/removal/removal_test_support.h"

namespace removal_test {
namespace {

using removal::DeletePath;
using removal::ItemKind;
using removal::Redirection;

const std::wstring kInstall = kInstallDirectory;

// The console lines for the driver file and the install directory.
const std::wstring kDriverDeleted = L"File deleted: C:\\Windows\\system32\\drivers\\tsld.sys\n";
const std::wstring kDriverNotPresent =
    L"File is not present: C:\\Windows\\system32\\drivers\\tsld.sys\n";
const std::wstring kDriverAtReboot =
    L"File will be deleted when the system reboots: C:\\Windows\\system32\\drivers\\tsld.sys\n";
const std::wstring kDriverError =
    L"\nERROR deleting File: C:\\Windows\\system32\\drivers\\tsld.sys\n";
const std::wstring kAccessDenied = L"ERROR code: 5 Message: Access is denied.\r\n\n\n";
const std::wstring kInstallAtReboot =
    L"Directory will be deleted when the system reboots: "
    L"C:\\Program Files\\Orvane Tessel Web Protection\n";

class DeletePathTest : public RemovalTest {
 protected:
  void DeleteDriverFile() {
    DeletePath(platform(), ItemKind::kFile, kDriverFile, Redirection::kBypass, context);
  }
  void DeleteInstallDirectory() {
    DeletePath(platform(), ItemKind::kDirectory, kInstall, Redirection::kKeep, context);
  }

  // The run's three items, in its order.
  void DeleteTheRunsItems() {
    DeleteDriverFile();
    DeleteInstallDirectory();
    DeletePath(platform(), ItemKind::kDirectory, kStartMenuDirectory, Redirection::kKeep, context);
  }

  void AddFileInUse(const std::wstring& path) {
    machine.files.AddFile(path);
    machine.files.SetInUse(path);
  }

  // The directories listed, in the order of the calls.
  std::vector<std::wstring> ListedDirectories() const {
    std::vector<std::wstring> listed;
    for (const sim::FileCall& call : machine.files.fileCalls()) {
      if (call.call == L"ListDirectory") {
        listed.push_back(call.resolved);
      }
    }
    return listed;
  }

  void ExpectNothingReported() {
    EXPECT_EQ(errorCount, 0);
    EXPECT_TRUE(machine.internet.exchanges().empty());
  }

  // Redirection is on again, and was on for every console write, for
  // everything sent and for every call that loads a DLL.
  void ExpectRedirectionRestored() {
    EXPECT_FALSE(machine.files.redirectionOff());
    EXPECT_EQ(machine.consoleWritesWithRedirectionOff(), 0);
    EXPECT_EQ(machine.files.misuses(), std::vector<std::wstring>{});
  }
};

TEST_F(DeletePathTest, CleanMachineGivesOneLinePerItem) {
  DeleteTheRunsItems();
  EXPECT_EQ(Console(),
            L"File is not present: C:\\Windows\\system32\\drivers\\tsld.sys\n"
            L"Directory is not present: C:\\Program Files\\Orvane Tessel Web Protection\n"
            L"Directory is not present: C:\\ProgramData\\Microsoft\\Windows\\Start "
            L"Menu\\Programs\\Orvane Tessel Web Protection\n");
  ExpectNothingReported();
  // Nothing was tried on what is not there.
  for (const sim::FileCall& call : machine.files.fileCalls()) {
    EXPECT_EQ(call.call, L"GetFileAttributes");
  }
}

// Only "not found" means absent, for a missing directory on the way as well.
TEST_F(DeletePathTest, AFileInAMissingDirectoryIsNotPresent) {
  DeletePath(platform(), ItemKind::kFile, L"C:\\Nowhere\\b.txt", Redirection::kBypass, context);
  EXPECT_EQ(Console(), L"File is not present: C:\\Nowhere\\b.txt\n");
  ExpectNothingReported();
}

TEST_F(DeletePathTest, ExistingItemsAreDeletedWithEverythingInThem) {
  machine.files.AddFile(kDriverFile, {1, 2, 3});
  machine.files.AddFile(kInstall + L"\\bin\\tessel.exe");
  machine.files.AddFile(kInstall + L"\\bin\\readonly.dll");
  machine.files.SetReadOnly(kInstall + L"\\bin\\readonly.dll");
  machine.files.AddFile(kInstall + L"\\data\\rules\\list.dat");
  machine.files.AddDirectory(kStartMenuDirectory);
  DeleteTheRunsItems();
  EXPECT_EQ(Console(),
            L"File deleted: C:\\Windows\\system32\\drivers\\tsld.sys\n"
            L"Directory deleted: C:\\Program Files\\Orvane Tessel Web Protection\n"
            L"Directory deleted: C:\\ProgramData\\Microsoft\\Windows\\Start "
            L"Menu\\Programs\\Orvane Tessel Web Protection\n");
  EXPECT_FALSE(machine.files.Exists(kDriverFile));
  EXPECT_TRUE(machine.files.ItemsBelow(kInstall).empty());
  EXPECT_FALSE(machine.files.Exists(kStartMenuDirectory));
  EXPECT_TRUE(machine.files.Exists(L"C:\\Program Files"));
  EXPECT_TRUE(machine.files.pendingDeletes().empty());
  ExpectNothingReported();
}

TEST_F(DeletePathTest, OnA32BitSystemRedirectionIsNeverTouched) {
  machine.files.AddFile(kDriverFile);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverDeleted);
  EXPECT_EQ(machine.files.disableCalls(), 0);
  EXPECT_EQ(machine.files.revertCalls(), 0);
}

TEST_F(DeletePathTest, WithoutBypassWow64IsNotEvenAsked) {
  machine.SetWow64(true);
  machine.files.AddDirectory(kInstall);
  DeleteInstallDirectory();
  EXPECT_EQ(machine.process.calls(), 0);
  EXPECT_EQ(machine.files.disableCalls(), 0);
  EXPECT_FALSE(machine.files.Exists(kInstall));
}

TEST_F(DeletePathTest, FileInUseIsLeftForTheNextBoot) {
  AddFileInUse(kDriverFile);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverAtReboot);
  EXPECT_EQ(machine.files.pendingDeletes(), std::vector<std::wstring>{kDriverFile});
  EXPECT_TRUE(machine.files.Exists(kDriverFile));
  ExpectNothingReported();
}

TEST_F(DeletePathTest, DirectoryHoldingFilesInUseIsEmptiedAtBootDeepestFirst) {
  machine.files.AddFile(kInstall + L"\\a.txt");
  AddFileInUse(kInstall + L"\\sub\\deep\\held.dll");
  machine.files.AddFile(kInstall + L"\\sub\\other.txt");
  AddFileInUse(kInstall + L"\\sub2\\x.txt");
  AddFileInUse(kInstall + L"\\top.log");
  DeleteInstallDirectory();

  EXPECT_EQ(Console(), kInstallAtReboot);
  // The shell deleted what it could; the rest waits for the boot: each
  // directory after everything in it, the directory itself last.
  EXPECT_FALSE(machine.files.Exists(kInstall + L"\\a.txt"));
  EXPECT_FALSE(machine.files.Exists(kInstall + L"\\sub\\other.txt"));
  EXPECT_EQ(machine.files.pendingDeletes(), (std::vector<std::wstring>{
                                                kInstall + L"\\sub\\deep\\held.dll",
                                                kInstall + L"\\sub\\deep",
                                                kInstall + L"\\sub",
                                                kInstall + L"\\sub2\\x.txt",
                                                kInstall + L"\\sub2",
                                                kInstall + L"\\top.log",
                                                kInstall,
                                            }));
  ExpectNothingReported();
}

TEST_F(DeletePathTest, EveryItemLeftIsScheduledBeforeItsDirectory) {
  // A wider tree: the order must let the boot empty each directory before it
  // comes to it, whatever the listing order.
  const std::vector<std::wstring> held = {L"\\z\\y\\x\\w.bin", L"\\A.dll", L"\\m\\n.sys",
                                          L"\\m\\o\\p\\q.dat", L"\\z\\k.dat"};
  for (const std::wstring& file : held) {
    AddFileInUse(kInstall + file);
  }
  const std::vector<std::wstring> remaining = machine.files.ItemsBelow(kInstall);
  DeleteInstallDirectory();

  const std::vector<std::wstring>& pending = machine.files.pendingDeletes();
  ASSERT_EQ(pending.size(), remaining.size());
  for (std::size_t i = 0; i < pending.size(); ++i) {
    for (std::size_t j = i + 1; j < pending.size(); ++j) {
      EXPECT_NE(pending[j].find(pending[i] + L"\\"), 0u)
          << "the directory is scheduled before what it holds";
    }
  }
  EXPECT_EQ(pending.back(), kInstall);
}

TEST_F(DeletePathTest, DirectoryThatCannotBeListedIsAFailureWithTheRestScheduled) {
  AddFileInUse(kInstall + L"\\sub\\held.dll");
  AddFileInUse(kInstall + L"\\the.dll");
  machine.files.FailListing(kInstall + L"\\sub", sim::kErrorPathNotFound);
  DeleteInstallDirectory();
  EXPECT_EQ(machine.files.pendingDeletes(),
            (std::vector<std::wstring>{kInstall + L"\\sub", kInstall + L"\\the.dll", kInstall}));
  EXPECT_EQ(Console(),
            L"\nERROR deleting Directory: " + kInstall +
                L"\nERROR code: 3 Message: The system cannot find the path specified.\r\n\n\n");
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"FileDelete", kInstall}}));
}

TEST_F(DeletePathTest, FailedSchedulingIsAFailureWithItsErrorCode) {
  AddFileInUse(kDriverFile);
  machine.files.FailEveryDeleteAtReboot(sim::kErrorAccessDenied);
  machine.SetConsoleWriteLastError(0);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverError + kAccessDenied);
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"FileDelete", kDriverFile}}));
  EXPECT_TRUE(machine.files.pendingDeletes().empty());
}

TEST_F(DeletePathTest, DirectoryIsNotScheduledOnceSomethingInItWasRefused) {
  AddFileInUse(kInstall + L"\\a\\held1.dll");
  AddFileInUse(kInstall + L"\\b\\held2.dll");
  machine.files.FailDeleteAtReboot(kInstall + L"\\b\\held2.dll", sim::kErrorDiskFull);
  DeleteInstallDirectory();
  EXPECT_EQ(Console(), L"\nERROR deleting Directory: " + kInstall +
                           L"\nERROR code: 112 Message: There is not enough space on the "
                           L"disk.\r\n\n\n");
  EXPECT_EQ(machine.files.pendingDeletes(),
            (std::vector<std::wstring>{kInstall + L"\\a\\held1.dll", kInstall + L"\\a"}));
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"FileDelete", kInstall}}));
}

TEST_F(DeletePathTest, ADirectoryThatIsALinkIsScheduledAsItselfNotWhatItLeadsTo) {
  // The directory is a junction; what lies below it belongs to its target,
  // where the shell's delete met a file in use.
  AddFileInUse(kInstall + L"\\elsewhere\\held.dll");
  machine.files.SetLink(kInstall);
  machine.files.SetShellResult(kInstall, 32);
  DeleteInstallDirectory();

  EXPECT_EQ(Console(), kInstallAtReboot);
  EXPECT_EQ(machine.files.pendingDeletes(), std::vector<std::wstring>{kInstall});
  EXPECT_EQ(ListedDirectories(), std::vector<std::wstring>{});
  ExpectNothingReported();
}

TEST_F(DeletePathTest, ALinkInsideTheDirectoryIsScheduledAsAnEntry) {
  AddFileInUse(kInstall + L"\\held.dll");
  machine.files.AddFile(kInstall + L"\\data\\outside.dat");
  machine.files.SetLink(kInstall + L"\\data");
  machine.files.SetShellResult(kInstall, 32);
  DeleteInstallDirectory();

  EXPECT_EQ(machine.files.pendingDeletes(),
            (std::vector<std::wstring>{kInstall + L"\\data", kInstall + L"\\held.dll", kInstall}));
  for (const std::wstring& listed : ListedDirectories()) {
    EXPECT_EQ(listed, kInstall);
  }
}

TEST_F(DeletePathTest, TheBootScheduleWalkStopsAtItsDepthLimit) {
  // A chain of directories deeper than the limit with a file in use at its
  // bottom, as a link looping back up the tree would give.
  const std::size_t limit = removal::kMaxBootScheduleDepth;
  std::vector<std::wstring> chain;  // chain[i] lies i + 1 levels below
  std::wstring path = kInstall;
  while (chain.size() < limit + 20) {
    path += L"\\d";
    chain.push_back(path);
  }
  AddFileInUse(path + L"\\held.dll");
  DeleteInstallDirectory();

  EXPECT_EQ(Console(), L"\nERROR deleting Directory: " + kInstall + L"\nERROR code: 206\n\n");
  // Listed: the directory and the levels down to the limit.
  std::vector<std::wstring> expectedListed = {kInstall};
  expectedListed.insert(expectedListed.end(), chain.begin(),
                        chain.begin() + static_cast<std::ptrdiff_t>(limit));
  EXPECT_EQ(ListedDirectories(), expectedListed);
  // Scheduled all the same: the levels down to the limit, the deepest first.
  std::vector<std::wstring> expectedPending(
      chain.rbegin() + static_cast<std::ptrdiff_t>(chain.size() - limit), chain.rend());
  expectedPending.push_back(kInstall);
  EXPECT_EQ(machine.files.pendingDeletes(), expectedPending);
}

TEST_F(DeletePathTest, EntriesAreScheduledByTheVerbatimPathUnlessNoPathNamesThem) {
  // A plain path drops trailing dots and spaces; no path names an entry ".."
  // (a step up, here a directory called so) or one with a colon (a stream).
  machine.files.AddFile(kInstall + L"\\held.dll");
  for (const wchar_t* odd : {L"..\\outside.dll", L"...\\inside.dll", L"trailing.", L"space ",
                             L"file:stream", L"tab\tname"}) {
    machine.files.AddFile(kInstall + L"\\" + odd);
  }
  machine.files.SetShellResult(kInstall, 32);
  DeleteInstallDirectory();

  EXPECT_EQ(
      machine.files.pendingDeletes(),
      (std::vector<std::wstring>{kInstall + L"\\...\\inside.dll", kInstall + L"\\...",
                                 kInstall + L"\\held.dll", kInstall + L"\\space ",
                                 kInstall + L"\\tab\tname", kInstall + L"\\trailing.", kInstall}));
  EXPECT_EQ(Console(), L"\nERROR deleting Directory: " + kInstall + L"\nERROR code: 123\n\n");
}

struct ShellFailure {
  int result;
  const wchar_t* codeLine;
};

class DeletePathShellFailureTest : public DeletePathTest,
                                   public ::testing::WithParamInterface<ShellFailure> {};

TEST_P(DeletePathShellFailureTest, IsReportedWithTheShellsResult) {
  machine.files.AddFile(kInstall + L"\\a.dll");
  machine.files.SetShellResult(kInstall, GetParam().result);
  // The shell's own results share numbers with unrelated system errors.
  machine.errors.SetText(0x402, L"Unrelated.\r\n");
  machine.errors.SetText(0x10074, L"Unrelated.\r\n");
  DeleteInstallDirectory();
  EXPECT_EQ(Console(), L"\nERROR deleting Directory: " + kInstall + L"\n" + GetParam().codeLine);
  EXPECT_EQ(errorCount, 1);
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"FileDelete", kInstall}}));
  EXPECT_TRUE(machine.files.Exists(kInstall));
  EXPECT_TRUE(machine.files.pendingDeletes().empty());
  ExpectAllHandlesClosed();
}

INSTANTIATE_TEST_SUITE_P(
    Results, DeletePathShellFailureTest,
    ::testing::Values(ShellFailure{0x402, L"ERROR code: 1026\n\n"},
                      ShellFailure{124, L"ERROR code: 124\n\n"},
                      ShellFailure{0x10074, L"ERROR code: 65652\n\n"},
                      ShellFailure{2,
                                   L"ERROR code: 2 Message: The system cannot find the file "
                                   L"specified.\r\n\n\n"}));

class DeletePathInUseTest : public DeletePathTest,
                            public ::testing::WithParamInterface<std::pair<std::uint32_t, bool>> {};

// A running program or a loaded DLL gives 5, an open file 32 or 33, and the
// shell (for a directory) may give its own 0x78 or cancel silently (0x75, 1223).
TEST_P(DeletePathInUseTest, WhatIsLeftIsScheduledForTheBoot) {
  const auto [code, inDirectory] = GetParam();
  const std::wstring held = inDirectory ? kInstall + L"\\bin\\tessel.dll" : kDriverFile;
  AddFileInUse(held);
  machine.files.SetInUse(held, true, code);
  inDirectory ? DeleteInstallDirectory() : DeleteDriverFile();
  EXPECT_EQ(Console(), inDirectory ? kInstallAtReboot : kDriverAtReboot);
  ASSERT_FALSE(machine.files.pendingDeletes().empty());
  EXPECT_EQ(machine.files.pendingDeletes().front(), held);
  ExpectNothingReported();
}

INSTANTIATE_TEST_SUITE_P(Codes, DeletePathInUseTest,
                         ::testing::Values(std::pair{5u, false}, std::pair{32u, false},
                                           std::pair{33u, false}, std::pair{5u, true},
                                           std::pair{0x78u, true}, std::pair{0x75u, true},
                                           std::pair{1223u, true}));

TEST_F(DeletePathTest, AShellSuccessThatLeftTheItemIsNoDeletion) {
  machine.files.AddFile(kInstall + L"\\a.dll");
  machine.files.SetShellResult(kInstall, 0);
  DeleteInstallDirectory();
  EXPECT_EQ(Console(), kInstallAtReboot);
  EXPECT_EQ(machine.files.pendingDeletes(),
            (std::vector<std::wstring>{kInstall + L"\\a.dll", kInstall}));
  ExpectNothingReported();
}

TEST_F(DeletePathTest, ItemsDeletePendingAreDeletedThoughEveryLookIsRefused) {
  // Held open elsewhere with delete sharing, they go when that handle closes.
  machine.files.AddFile(kDriverFile);
  machine.files.ShareDelete(kDriverFile);
  machine.files.AddFile(std::wstring(kStartMenuDirectory) + L"\\Tessel.lnk");
  machine.files.ShareDelete(kStartMenuDirectory);
  DeleteTheRunsItems();
  EXPECT_EQ(Console(), kDriverDeleted + L"Directory is not present: " + kInstall +
                           L"\nDirectory deleted: " + kStartMenuDirectory + L"\n");
  EXPECT_TRUE(machine.files.pendingDeletes().empty());
  ExpectNothingReported();
}

TEST_F(DeletePathTest, ReadOnlyFileIsDeletedWithoutTheShell) {
  machine.files.AddFile(kDriverFile);
  machine.files.SetReadOnly(kDriverFile);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverDeleted);
  EXPECT_FALSE(machine.files.Exists(kDriverFile));
  EXPECT_EQ(FirstCall(L"Files.ShellDelete"), machine.core.calls.size());
  ExpectNothingReported();
}

TEST_F(DeletePathTest, ItemThatCannotBeQueriedIsThereAndLeftForTheBoot) {
  // A guarded item refuses the query and the deletion: only "not found"
  // means absent. Its kind is the caller's: a directory still goes to the
  // shell, never to the plain file calls that refuse any directory.
  machine.files.AddDirectory(kInstall);
  machine.files.DenyAccess(kInstall);
  DeleteInstallDirectory();
  EXPECT_EQ(Console(), kInstallAtReboot);
  EXPECT_LT(FirstCall(L"Files.ShellDelete"), machine.core.calls.size());
  EXPECT_EQ(FirstCall(L"Files.DeleteFile"), machine.core.calls.size());
  EXPECT_EQ(machine.files.pendingDeletes(), std::vector<std::wstring>{kInstall});
  ExpectNothingReported();
}

// --- WOW64: the driver file lives in the native system directory. ---

class DeletePathWow64Test : public DeletePathTest {
 protected:
  void SetUp() override { machine.SetWow64(true); }

  // Every call on the item itself happened with redirection off.
  void ExpectItemCallsBypassedRedirection() {
    for (const sim::FileCall& call : machine.files.fileCalls()) {
      if (!call.path.empty()) {
        EXPECT_TRUE(call.redirectionOff) << ::testing::PrintToString(call.call);
      }
    }
  }
};

TEST_F(DeletePathWow64Test, DriverFileInTheNativeDirectoryIsDeleted) {
  machine.files.AddFile(kDriverFile);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverDeleted);
  EXPECT_FALSE(machine.files.Exists(kDriverFile));
  ExpectItemCallsBypassedRedirection();
  EXPECT_EQ(machine.files.disableCalls(), 1);
  // Switched on again although the saved value was zero.
  EXPECT_EQ(machine.files.revertCalls(), 1);
  ExpectRedirectionRestored();
  ExpectNothingReported();
}

TEST_F(DeletePathWow64Test, DriverFileOnlyInThe32BitDirectoryIsNotPresent) {
  machine.files.AddFile(kDriverFile32);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverNotPresent);
  EXPECT_TRUE(machine.files.Exists(kDriverFile32));
  ExpectRedirectionRestored();
}

TEST_F(DeletePathWow64Test, WithoutBypassTheRedirectedViewIsSeen) {
  machine.files.AddFile(kDriverFile32);
  machine.files.AddFile(kDriverFile);
  DeletePath(platform(), ItemKind::kFile, kDriverFile, Redirection::kKeep, context);
  EXPECT_EQ(Console(), kDriverDeleted);
  EXPECT_FALSE(machine.files.Exists(kDriverFile32));
  EXPECT_TRUE(machine.files.Exists(kDriverFile));
}

TEST_F(DeletePathWow64Test, DriverFileInUseIsScheduledByItsNativePath) {
  AddFileInUse(kDriverFile);
  machine.files.AddFile(kDriverFile32);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverAtReboot);
  EXPECT_EQ(machine.files.pendingDeletes(), std::vector<std::wstring>{kDriverFile});
  EXPECT_TRUE(machine.files.Exists(kDriverFile32));
  ExpectItemCallsBypassedRedirection();
  ExpectRedirectionRestored();
}

TEST_F(DeletePathWow64Test, RedirectionIsOnAgainBeforeTheFailureIsReported) {
  AddFileInUse(kDriverFile);
  machine.files.FailEveryDeleteAtReboot(sim::kErrorAccessDenied);
  DeleteDriverFile();
  EXPECT_EQ(ErrorEvents(), (std::vector<ErrorEvent>{{L"FileDelete", kDriverFile}}));
  const std::size_t revert = FirstCall(L"Files.RevertWow64FsRedirection");
  EXPECT_LT(FirstCall(L"Files.DeleteFile"), revert);
  EXPECT_LT(revert, FirstCall(L"Internet."));
  EXPECT_LT(revert, FirstCall(L"Messages."));
  ExpectRedirectionRestored();
}

TEST_F(DeletePathWow64Test, ADirectoryGoesThroughTheShellWithRedirectionOnAndBootsByItsRealPath) {
  const std::wstring directory = L"C:\\Windows\\system32\\drivers\\tessel";
  AddFileInUse(directory + L"\\tsld.cat");
  DeletePath(platform(), ItemKind::kDirectory, directory, Redirection::kBypass, context);
  EXPECT_EQ(Console(), L"Directory will be deleted when the system reboots: " + directory + L"\n");
  EXPECT_EQ(machine.files.pendingDeletes(),
            (std::vector<std::wstring>{directory + L"\\tsld.cat", directory}));
  ExpectRedirectionRestored();
}

TEST_F(DeletePathWow64Test, FailedSchedulingIsReportedWithRedirectionOn) {
  AddFileInUse(kDriverFile);
  machine.files.FailEveryDeleteAtReboot(sim::kErrorAccessDenied);
  DeleteDriverFile();
  EXPECT_EQ(errorCount, 1);
  EXPECT_LT(FirstCall(L"Files.RevertWow64FsRedirection"), FirstCall(L"Internet."));
  ExpectRedirectionRestored();
}

TEST_F(DeletePathWow64Test, SavedValueIsHandedBackToTheRevert) {
  int marker = 0;
  machine.files.SetSavedRedirectionValue(&marker);
  machine.files.AddFile(kDriverFile);
  DeleteDriverFile();
  EXPECT_EQ(machine.files.revertCalls(), 1);
  EXPECT_TRUE(machine.files.misuses().empty());
  ExpectRedirectionRestored();
}

TEST_F(DeletePathWow64Test, MissingDisableEntryLeavesTheRedirectedView) {
  machine.files.SetDisableEntryPresent(false);
  machine.files.AddFile(kDriverFile);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverNotPresent);
  EXPECT_EQ(machine.files.revertCalls(), 0);
  ExpectRedirectionRestored();
}

TEST_F(DeletePathWow64Test, FailedDisableIsNotReverted) {
  machine.files.FailDisable(sim::kErrorAccessDenied);
  machine.files.AddFile(kDriverFile);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverNotPresent);
  EXPECT_EQ(machine.files.disableCalls(), 1);
  EXPECT_EQ(machine.files.revertCalls(), 0);
  EXPECT_TRUE(machine.files.misuses().empty());
}

TEST_F(DeletePathWow64Test, MissingRevertEntryIsNotCalledTwice) {
  // Cannot happen on a real system (both entries come together); the item is
  // still handled, and the revert is tried exactly once.
  machine.files.SetRevertEntryPresent(false);
  machine.files.AddFile(kDriverFile);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverDeleted);
  EXPECT_EQ(machine.files.revertCalls(), 1);
}

TEST_F(DeletePathWow64Test, MissingIsWow64ProcessCountsAsA32BitSystem) {
  machine.process.SetEntry(sim::SimProcess::Entry::kMissing);
  machine.files.AddFile(kDriverFile);
  DeleteDriverFile();
  EXPECT_EQ(Console(), kDriverNotPresent);
  EXPECT_EQ(machine.files.disableCalls(), 0);
}

}  // namespace
}  // namespace removal_test
