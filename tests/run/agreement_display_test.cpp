#include "run/agreement_display.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/sim/sim_machine.h"

namespace {

constexpr wchar_t kTemp[] = L"C:\\Users\\pat\\AppData\\Local\\Temp";
constexpr wchar_t kPageFile[] = L"C:\\Users\\pat\\AppData\\Local\\Temp\\tessel_removal_eula.html";

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

  void Show() { run::ShowAgreement(machine.platform()); }

  // Nothing written, nothing opened, nothing printed.
  void ExpectNoPageShown() {
    EXPECT_TRUE(machine.shell.openRequests().empty());
    EXPECT_EQ(machine.console.str(), L"");
    EXPECT_EQ(machine.files.OpenFiles(), 0u);
  }

  std::vector<std::uint8_t> page;
  sim::SimMachine machine;
};

TEST_F(ShowAgreementTest, WritesThePageToTempAndOpensIt) {
  Show();

  EXPECT_EQ(machine.files.FileContent(kPageFile), page);
  ASSERT_EQ(machine.shell.openRequests().size(), 1u);
  EXPECT_EQ(machine.shell.openRequests()[0].path, kPageFile);
  EXPECT_EQ(machine.shell.openRequests()[0].showCommand, 1);
  EXPECT_EQ(machine.console.str(), L"");
  EXPECT_EQ(machine.files.OpenFiles(), 0u);
  EXPECT_TRUE(machine.files.misuses().empty());
}

TEST_F(ShowAgreementTest, OpensThroughTheDesktopShellOnlyWhenItRunsAsTheSameUserAndAnswers) {
  Show();
  ASSERT_EQ(machine.shell.openRequests().size(), 1u);
  EXPECT_TRUE(machine.shell.openRequests()[0].byDesktopShell);

  // Each of these opens the page directly, once.
  const auto opensDirectly = [&](const char* what, auto stage) {
    SCOPED_TRACE(what);
    sim::SimMachine m;
    StageTempAndPage(m, page);
    stage(m.shell);
    run::ShowAgreement(m.platform());
    const std::vector<sim::OpenRequest>& opened = m.shell.openRequests();
    EXPECT_EQ(opened.size(), 1u);
    for (const sim::OpenRequest& request : opened) {
      EXPECT_FALSE(request.byDesktopShell);
      EXPECT_EQ(request.path, kPageFile);
    }
    return m.core.nowMs;
  };
  opensDirectly("no desktop shell", [](sim::SimShell& s) { s.SetDesktopShellRunning(false); });
  opensDirectly("the desktop's user is another",
                [](sim::SimShell& s) { s.SetDesktopShellUserIsOther(true); });
  opensDirectly("the shell starts nothing (S_FALSE)",
                [](sim::SimShell& s) { s.SetDesktopShellStartsNothing(true); });
  const std::uint64_t waited =
      opensDirectly("the shell hangs", [](sim::SimShell& s) { s.SetDesktopShellHangs(true); });
  EXPECT_EQ(waited, 5000u);
}

TEST_F(ShowAgreementTest, NeverWritesThroughWhatHoldsThePagesName) {
  const std::vector<std::uint8_t> system = {'s', 'y', 's'};
  const auto writesAFreshPage = [&](const char* what, auto stage) {
    SCOPED_TRACE(what);
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.AddFile(L"C:\\Windows\\win.ini", system);
    stage(m.files);
    run::ShowAgreement(m.platform());
    EXPECT_EQ(m.files.FileContent(kPageFile), page);
    EXPECT_EQ(m.files.GetFileAttributes(kPageFile) & platform::kFileAttributeReparsePoint, 0u);
    EXPECT_EQ(m.files.FileContent(L"C:\\Windows\\win.ini"), system);
    EXPECT_EQ(m.shell.openRequests().size(), 1u);
  };
  writesAFreshPage("a hard link (a plain name)",
                   [&](sim::SimFiles& f) { f.AddFile(kPageFile, system); });
  writesAFreshPage("a symbolic link to a file",
                   [](sim::SimFiles& f) { f.SetLinkTarget(kPageFile, L"C:\\Windows\\win.ini"); });
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
    run::ShowAgreement(m.platform());
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_EQ(m.files.OpenFiles(), 0u);
    EXPECT_NE(m.files.FileContent(kPageFile), page);
  };
  opensNothing("the name taken again at once", [](sim::SimFiles& f) {
    f.AddFile(kPageFile);
    f.SetRecreatedAfterDeletion(kPageFile);
  });
  opensNothing("a directory with files",
               [](sim::SimFiles& f) { f.AddFile(std::wstring(kPageFile) + L"\\x"); });
  opensNothing("a read-only file", [](sim::SimFiles& f) { f.SetReadOnly(kPageFile); });
}

TEST_F(ShowAgreementTest, WritesNothingOutsideTemp) {
  {
    SCOPED_TRACE("TEMP's directory, or one above it, is a junction to elsewhere");
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.SetLinkTarget(L"C:\\Users\\pat\\AppData", L"C:\\Windows\\System32");
    run::ShowAgreement(m.platform());
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_FALSE(m.files.Exists(kPageFile));
    EXPECT_EQ(m.files.OpenFiles(), 0u);
  }
  {
    SCOPED_TRACE("TEMP in short names and other letter case is TEMP all the same");
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.AddShortName(L"C:\\Users\\PAT~1", L"C:\\Users\\pat");
    m.shell.SetEnvironmentVariable(L"TEMP", L"c:\\users\\PAT~1\\AppData\\Local\\TEMP\\");
    run::ShowAgreement(m.platform());
    EXPECT_EQ(m.files.FileContent(kPageFile), page);
    EXPECT_EQ(m.shell.openRequests().size(), 1u);
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

TEST_F(ShowAgreementTest, TempWithATrailingBackslashGivesTwoBackslashesInARow) {
  machine.shell.SetEnvironmentVariable(L"TEMP", L"D:\\tmp\\");

  Show();

  ASSERT_FALSE(machine.files.fileCalls().empty());
  EXPECT_EQ(machine.files.fileCalls()[0].path, L"D:\\tmp\\\\tessel_removal_eula.html");
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
    run::ShowAgreement(m.platform());
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_EQ(m.console.str(), L"");
  }
  {
    SCOPED_TRACE("the file cannot be opened");
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.FailCreateNewFile(5);
    run::ShowAgreement(m.platform());
    EXPECT_TRUE(m.shell.openRequests().empty());
  }
  {
    SCOPED_TRACE("the disk fills up part way");
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.SetDiskSpace(10000);
    run::ShowAgreement(m.platform());
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_EQ(m.files.OpenFiles(), 0u);
  }
  {
    SCOPED_TRACE("the close fails to flush");
    sim::SimMachine m;
    StageTempAndPage(m, page);
    m.files.FailClose(112);
    run::ShowAgreement(m.platform());
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_EQ(m.files.OpenFiles(), 0u);
    EXPECT_EQ(m.console.str(), L"");
  }
}

}  // namespace
