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

TEST_F(ShowAgreementTest, OpensThroughTheDesktopShellAndItsOwnOnlyWithoutOne) {
  Show();
  machine.shell.SetDesktopShellRunning(false);
  Show();

  const std::vector<sim::OpenRequest>& opened = machine.shell.openRequests();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_TRUE(opened[0].byDesktopShell);
  EXPECT_FALSE(opened[1].byDesktopShell);
  EXPECT_EQ(opened[1].path, kPageFile);
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
