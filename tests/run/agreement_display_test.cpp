#include "run/agreement_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/sim/sim_machine.h"

namespace {

constexpr wchar_t kTemp[] = L"C:\\Users\\pat\\AppData\\Local\\Temp";
constexpr wchar_t kPageFile[] = L"C:\\Users\\pat\\AppData\\Local\\Temp\\tessel_removal_eula.html";
constexpr wchar_t kWhere[] = L"The EULA could not be shown in the browser. It is in: ";

// A page of realistic size: one line of markup, no line breaks, no NUL.
std::vector<std::uint8_t> MakePage(std::size_t size) {
  const std::string head = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>";
  std::vector<std::uint8_t> page(head.begin(), head.end());
  for (std::size_t i = 0; page.size() < size; ++i) {
    page.push_back(static_cast<std::uint8_t>('a' + i % 26));
  }
  return page;
}

// TEMP names an existing directory, and the program carries `page`.
void StageTempAndPage(sim::SimMachine& machine, const std::vector<std::uint8_t>& page) {
  machine.shell.SetEnvironmentVariable(L"TEMP", kTemp);
  machine.files.AddDirectory(kTemp);
  machine.shell.AddResource(256, 101, page);
}

class ShowAgreementTest : public ::testing::Test {
 protected:
  ShowAgreementTest() : page(MakePage(16600)) { StageTempAndPage(machine, page); }

  void Show() { agreement.Show(); }

  // Nothing written, nothing opened, nothing printed.
  void ExpectNoPageShown() const {
    EXPECT_TRUE(machine.shell.openRequests().empty());
    EXPECT_EQ(machine.console.str(), L"");
    EXPECT_EQ(machine.files.OpenFiles(), 0u);
  }

  std::vector<std::uint8_t> page;
  sim::SimMachine machine;
  run::AgreementPage agreement{machine.platform()};
};

TEST_F(ShowAgreementTest, WritesThePageToTempHoldsItAndOpensIt) {
  Show();

  EXPECT_EQ(machine.files.FileContent(kPageFile), page);
  ASSERT_EQ(machine.shell.openRequests().size(), 1u);
  EXPECT_EQ(machine.shell.openRequests()[0].path, kPageFile);
  EXPECT_EQ(machine.shell.openRequests()[0].showCommand, 1);
  EXPECT_EQ(machine.console.str(), L"");
  EXPECT_TRUE(machine.files.misuses().empty());
  // Held by one handle for the rest of the run: any reader may open it, nobody
  // may change, rename or delete it.
  EXPECT_EQ(machine.files.OpenFiles(), 1u);
  constexpr std::uint32_t kRead = platform::kFileShareRead;
  constexpr std::uint32_t kAll = kRead | platform::kFileShareWrite | platform::kFileShareDelete;
  EXPECT_TRUE(machine.files.CanOpen(kPageFile, kRead, kRead));
  EXPECT_TRUE(machine.files.CanOpen(kPageFile, kRead, kRead | platform::kFileShareWrite));
  EXPECT_FALSE(machine.files.CanOpen(kPageFile, platform::kFileShareWrite, kAll));
  EXPECT_FALSE(machine.files.CanOpen(kPageFile, platform::kFileShareDelete, kAll));

  // A later press opens the same page again: nothing is written anew.
  Show();
  EXPECT_EQ(machine.shell.openRequests().size(), 2u);
  EXPECT_EQ(std::count(machine.core.calls.begin(), machine.core.calls.end(),
                       L"Files.CreateNewFile \\\\?\\" + std::wstring(kPageFile)),
            1);
}

TEST_F(ShowAgreementTest, OpensOnlyThroughTheDesktopShellAndOtherwiseSaysWhereThePageIs) {
  // Another user's shell opens the page, which that user may then read.
  machine.shell.SetDesktopShellUserIsOther(true);
  Show();
  EXPECT_EQ(machine.files.lastOtherReader(), sim::SimShell::kOtherUserSid);
  // A shell that starts nothing (S_FALSE), then none at all: the tool starts
  // nothing itself, and says where the page is, once per press.
  machine.shell.SetDesktopShellStartsNothing(true);
  Show();
  machine.shell.SetDesktopShellRunning(false);
  Show();
  EXPECT_EQ(machine.shell.openRequests().size(), 1u);
  const std::wstring line = std::wstring(kWhere) + kPageFile + L"\n";
  EXPECT_EQ(machine.console.str(), line + line);
}

TEST_F(ShowAgreementTest, AShellThatHasNotAnsweredIsNotAskedAgain) {
  const auto calls = [](const sim::SimMachine& m) {
    return std::count(m.core.calls.begin(), m.core.calls.end(), L"Process.RunWithin 5000");
  };
  // A press waits for the shell until its deadline, and no longer; a shell
  // that never answers is never asked again.
  machine.shell.SetDesktopShellHangs(true);
  Show();
  EXPECT_EQ(machine.core.nowMs, 5000u);
  Show();
  EXPECT_TRUE(machine.shell.openRequests().empty());
  EXPECT_EQ(calls(machine), 1);
  // The press that waited in vain says where the page is; the next one, nothing.
  EXPECT_EQ(machine.console.str(), kWhere + std::wstring(kPageFile) + L"\n");

  // A call still under way (its thread runs at the next pause) is not made
  // again; once the shell has answered, a press asks it again.
  sim::SimMachine m;
  StageTempAndPage(m, page);
  m.process.SetWorkers(sim::SimProcess::Threads::kAtNextSleep);
  run::AgreementPage later(m.platform());
  later.Show();
  later.Show();
  EXPECT_EQ(calls(m), 1);
  m.clock.Sleep(100);
  later.Show();
  m.clock.Sleep(100);
  ASSERT_EQ(m.shell.openRequests().size(), 2u);
}

TEST_F(ShowAgreementTest, NeverWritesThroughWhatHoldsThePagesName) {
  const std::vector<std::uint8_t> system = {'s', 'y', 's'};
  const auto writesAFreshPage = [&](const char* what, auto stage) {
    SCOPED_TRACE(what);
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.AddFile(L"C:\\Windows\\win.ini", system);
    stage(m.files);
    run::AgreementPage(m.platform()).Show();
    EXPECT_EQ(m.files.FileContent(kPageFile), page);
    EXPECT_EQ(m.files.GetFileAttributes(kPageFile) & platform::kFileAttributeReparsePoint, 0u);
    EXPECT_EQ(m.files.FileContent(L"C:\\Windows\\win.ini"), system);
    EXPECT_EQ(m.shell.openRequests().size(), 1u);
  };
  writesAFreshPage("a hard link (a plain name)",
                   [&](sim::SimFiles& f) { f.AddFile(kPageFile, system); });
  writesAFreshPage("a symbolic link to a file",
                   [](sim::SimFiles& f) { f.SetLinkTarget(kPageFile, L"C:\\Windows\\win.ini"); });
  writesAFreshPage("a file named in other letter case", [&](sim::SimFiles& f) {
    f.AddFile(std::wstring(kTemp) + L"\\TESSEL_REMOVAL_EULA.HTML", system);
  });
  writesAFreshPage("a junction", [](sim::SimFiles& f) {
    f.AddDirectory(kPageFile);
    f.SetLinkTarget(kPageFile, L"C:\\Windows");
    f.AddFile(std::wstring(kPageFile) + L"\\system.ini");
  });

  const auto opensNothing = [&](const char* what, auto stage) {
    SCOPED_TRACE(what);
    sim::SimMachine m;
    StageTempAndPage(m, page);
    stage(m.files);
    run::AgreementPage(m.platform()).Show();
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_EQ(m.files.OpenFiles(), 0u);
    EXPECT_NE(m.files.FileContent(kPageFile), page);
    EXPECT_TRUE(m.files.Exists(kPageFile));
  };
  opensNothing("the name taken again at once", [](sim::SimFiles& f) {
    f.AddFile(kPageFile);
    f.SetRecreatedAfterDeletion(kPageFile);
  });
  opensNothing("a directory with files",
               [](sim::SimFiles& f) { f.AddFile(std::wstring(kPageFile) + L"\\x"); });
  opensNothing("a read-only file", [](sim::SimFiles& f) { f.SetReadOnly(kPageFile); });

  // Another program points a junction on TEMP's path elsewhere just before
  // one of the tool's calls: what that call reaches is left as it is.
  const std::vector<std::pair<const wchar_t*, std::optional<std::vector<std::uint8_t>>>> swaps = {
      {L"OpenName", system}, {L"CreateNewFile", std::nullopt}, {L"ReOpenForReading", page}};
  for (const auto& [call, left] : swaps) {
    SCOPED_TRACE(std::wstring(call));
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.AddFile(kPageFile, system);
    m.files.BeforeCall(call,
                       [&m] { m.files.SetLinkTarget(L"C:\\Users\\pat\\AppData", L"C:\\Windows"); });
    run::AgreementPage(m.platform()).Show();
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_EQ(m.files.OpenFiles(), 0u);
    EXPECT_EQ(m.files.FileContent(kPageFile), left);
  }
}

TEST_F(ShowAgreementTest, ShowsThePageWhereverTempReallyIsAndOnlyThere) {
  // Whether the page was written and opened there; nothing at all is done
  // with a TEMP that is refused.
  // `real`: where the page really lies, when a link leads there.
  const auto shown = [&](const char* what, const std::wstring& temp, auto stage,
                         const std::wstring& real = L"") {
    SCOPED_TRACE(what);
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.shell.SetEnvironmentVariable(L"TEMP", temp);
    stage(m.files);
    run::AgreementPage(m.platform()).Show();
    EXPECT_EQ(m.files.OpenFiles(), 0u);
    const bool opened = m.shell.openRequests().size() == 1;
    EXPECT_EQ(opened, !m.files.fileCalls().empty());
    // The last call with a path created the page; the browser is given where
    // it really is, past every link that could be pointed elsewhere later.
    const std::wstring created = opened ? m.files.fileCalls().back().resolved : L"";
    return opened && m.files.FileContent(created) == page &&
           m.files.EqualIgnoringCase(m.shell.openRequests()[0].path,
                                     real.empty() ? created : real + L"\\tessel_removal_eula.html");
  };
  const auto none = [](sim::SimFiles&) {};
  EXPECT_TRUE(shown(
      "a junction on TEMP's path", kTemp,
      [](sim::SimFiles& f) { f.SetLinkTarget(L"C:\\Users\\pat\\AppData", L"D:\\Profiles\\pat"); },
      L"D:\\Profiles\\pat\\Local\\Temp"));
  EXPECT_TRUE(
      shown("short names and other letter case", L"c:\\users\\PAT~1\\AppData\\Local\\TEMP",
            [](sim::SimFiles& f) { f.AddShortName(L"C:\\Users\\PAT~1", L"C:\\Users\\pat"); }));
  EXPECT_TRUE(shown("a non-ASCII letter in other case", L"C:\\Users\\ZO\u00cb\\Temp",
                    [](sim::SimFiles& f) { f.AddDirectory(L"C:\\Users\\Zo\u00eb\\Temp"); }));
  EXPECT_TRUE(shown(
      "a subst drive", L"S:\\Temp",
      [](sim::SimFiles& f) {
        f.AddDirectory(L"S:\\Temp");
        f.SetLinkTarget(L"S:", L"C:\\Users\\pat\\AppData\\Local");
      },
      L"C:\\Users\\pat\\AppData\\Local\\Temp"));
  EXPECT_TRUE(shown("a network share", L"\\\\server\\share\\temp",
                    [](sim::SimFiles& f) { f.AddDirectory(L"\\\\server\\share\\temp"); }));
  // Paths that reach past the file system's names get no page at all.
  for (const wchar_t* temp :
       {L"\\\\?\\GLOBALROOT\\RPC Control", L"\\\\?\\C:\\Users\\pat\\AppData\\Local\\Temp",
        L"\\\\.\\C:\\Users\\pat\\AppData\\Local\\Temp", L"\\\\?\\UNC\\server\\share",
        L"\\??\\C:\\Users", L"C:Users\\pat", L"\\\\server"}) {
    EXPECT_FALSE(shown("refused", temp, none)) << std::wstring(temp);
  }
}

TEST_F(ShowAgreementTest, RewritesAnEarlierFileInsteadOfAppending) {
  machine.files.AddFile(kPageFile, MakePage(20000));

  Show();
  Show();

  EXPECT_EQ(machine.files.FileContent(kPageFile), page);
  EXPECT_EQ(machine.shell.openRequests().size(), 2u);
}

TEST_F(ShowAgreementTest, GoesOnAfterPartialWrites) {
  machine.files.SetWriteChunk(4096);

  Show();

  EXPECT_EQ(machine.files.FileContent(kPageFile), page);
  EXPECT_EQ(machine.shell.openRequests().size(), 1u);
}

TEST_F(ShowAgreementTest, TempWithATrailingBackslashStillNamesThePageInIt) {
  machine.shell.SetEnvironmentVariable(L"TEMP", L"D:\\tmp\\");
  machine.files.AddDirectory(L"D:\\tmp");

  Show();

  ASSERT_GE(machine.files.fileCalls().size(), 2u);
  // Named through the directory's own path, whatever TEMP's form.
  EXPECT_EQ(machine.files.fileCalls()[1].path, L"\\\\?\\D:\\tmp\\tessel_removal_eula.html");
  EXPECT_EQ(machine.files.FileContent(L"D:\\tmp\\tessel_removal_eula.html"), page);
}

TEST_F(ShowAgreementTest, NothingHappensWithoutTemp) {
  {
    SCOPED_TRACE("unset");
    machine.shell.UnsetEnvironmentVariable(L"TEMP");
    Show();
    ExpectNoPageShown();
    EXPECT_TRUE(machine.files.fileCalls().empty());
  }
  {
    SCOPED_TRACE("empty: would name the root of the current drive");
    machine.shell.SetEnvironmentVariable(L"TEMP", L"");
    Show();
    ExpectNoPageShown();
    EXPECT_TRUE(machine.files.fileCalls().empty());
  }
}

TEST_F(ShowAgreementTest, NothingHappensWhenThePageResourceIsMissing) {
  machine.shell.RemoveResource(256, 101);
  machine.shell.AddResource(10, 101, page);  // right id, wrong type

  Show();

  ExpectNoPageShown();
  EXPECT_FALSE(machine.files.Exists(kPageFile));
}

TEST_F(ShowAgreementTest, AnEmptyPageIsNotShown) {
  machine.shell.AddResource(256, 101, {});

  Show();

  ExpectNoPageShown();
  EXPECT_FALSE(machine.files.Exists(kPageFile));
}

TEST_F(ShowAgreementTest, NothingIsOpenedWhenThePageCannotBeWrittenWhole) {
  {
    SCOPED_TRACE("TEMP names a directory that does not exist");
    sim::SimMachine m;
    m.shell.SetEnvironmentVariable(L"TEMP", L"C:\\Gone");
    m.shell.AddResource(256, 101, page);
    run::AgreementPage(m.platform()).Show();
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_EQ(m.console.str(), L"");
  }
  {
    SCOPED_TRACE("the file cannot be opened");
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.FailCreateNewFile(5);
    run::AgreementPage(m.platform()).Show();
    EXPECT_TRUE(m.shell.openRequests().empty());
  }
  {
    SCOPED_TRACE("the disk fills up part way");
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.SetDiskSpace(10000);
    run::AgreementPage(m.platform()).Show();
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_EQ(m.files.OpenFiles(), 0u);
  }
  {
    SCOPED_TRACE("the close fails to flush");
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.FailClose(112);
    run::AgreementPage(m.platform()).Show();
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_EQ(m.files.OpenFiles(), 0u);
    EXPECT_EQ(m.console.str(), L"");
  }
}

}  // namespace
