#include "run/removal_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "tests/sim/sim_machine.h"
#include "tests/sim/sim_text.h"

namespace {

constexpr wchar_t kRunId[] = L"3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f";

const std::wstring kBanner = sim::WithVersion(L"\ntessel-cleanup v{version}\n\n");
constexpr wchar_t kAgreement[] =
    L"\nPress one of the following keys:\n"
    L"  'A' to accept the EULA\n"
    L"  'E' to exit the tool\n"
    L"  'D' to display the EULA in the browser\n";
constexpr wchar_t kQuestion[] =
    L"\nCan the computer be restarted to complete the removal procedure?\n"
    L"Press the 'Y' key to restart, otherwise the 'N' key to manually restart.\n";
constexpr wchar_t kManualRestart[] =
    L"\n\nPlease manually restart the computer to complete the removal procedure.";
constexpr wchar_t kExitWait[] = L"\nPress the 'E' key to exit the tool.\n";
const std::wstring kFlush = L"Keyboard.FlushConsoleInput";

constexpr wchar_t kDriverFile[] = L"C:\\Windows\\system32\\drivers\\tsld.sys";
constexpr wchar_t kInstallDir[] = L"C:\\Program Files\\Orvane Tessel Web Protection";
constexpr wchar_t kStartMenuDir[] =
    L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Orvane Tessel Web Protection";
constexpr wchar_t kProductKey[] = L"SOFTWARE\\Orvane Systems\\Tessel";
constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Orvane Systems";
constexpr wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Tessel Web Protection";

using Kind = platform::ConsoleInputRecord::Kind;

constexpr int A = 'A';
constexpr int E = 'E';
constexpr int N = 'N';
constexpr int Y = 'Y';

// When the later keys of a script go down: after the agreement, long before
// the run reaches its last prompts. Held keys count whenever a prompt starts.
constexpr std::uint64_t kLaterKeysMs = 1000;

std::wstring Dots(std::size_t count) { return std::wstring(count, L'.'); }

std::wstring TelemetryPause() { return L"Sending telemetry " + Dots(30) + L"\n"; }

std::wstring Field(const sim::FormFields& form, const wchar_t* name) {
  return sim::FormValue(form, name).value_or(L"<none>");
}

class RemovalRunTest : public ::testing::Test {
 protected:
  RemovalRunTest() { machine.identifiers.SetUuid(kRunId); }

  // The process ends with the code that the run returns.
  int Run() {
    const int code = run::RemovalRun(machine.platform());
    EXPECT_EQ(machine.process.terminatedWith(), code);
    return code;
  }

  // The product as the installer leaves it on 64-bit Windows, its filter
  // service running.
  void InstallProduct() { InstallProduct(machine); }
  static void InstallProduct(sim::SimMachine& machine) {
    machine.SetWow64(true);
    sim::SimService& filter = machine.services.Install(L"tslwfs", platform::kServiceRunning);
    filter.stopBehaviour = sim::StopBehaviour::kStopsAfterQueries;
    filter.stopAfter = 3;
    machine.services.Install(L"tsld");
    machine.files.AddFile(kDriverFile, {0x4D, 0x5A});
    machine.files.AddFile(std::wstring(kInstallDir) + L"\\bin\\tesselui.exe", {0x4D, 0x5A});
    machine.files.AddFile(std::wstring(kInstallDir) + L"\\filter.cfg");
    machine.files.AddFile(std::wstring(kStartMenuDir) + L"\\Tessel Web Protection.lnk");
    machine.registry.AddKey(kProductKey);
    machine.registry.AddKey(kUninstallKey);
    // Neighbours that are not the product's.
    machine.registry.AddKey(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other");
    machine.files.AddFile(L"C:\\Program Files\\Other\\other.exe");
  }

  void AcceptAgreement() { machine.keyboard.Tap(A, 50); }

  // Accepts the agreement, then holds `keys` down for the run's later prompts.
  void AcceptAndHold(std::initializer_list<int> keys) {
    AcceptAgreement();
    for (const int key : keys) {
      machine.keyboard.Hold(key, kLaterKeysMs);
    }
  }

  void ExpectConsoleEndsWith(const std::wstring& tail) const {
    const std::wstring console = machine.console.str();
    ASSERT_GE(console.size(), tail.size());
    EXPECT_EQ(console.substr(console.size() - tail.size()), tail);
  }

  std::vector<sim::FormFields> Events() const { return machine.internet.SentForms(); }

  std::vector<std::wstring> Modules() const {
    std::vector<std::wstring> modules;
    for (const sim::FormFields& form : Events()) {
      modules.push_back(Field(form, L"module"));
    }
    return modules;
  }

  // How many requests had been sent when the call log held `callCount` entries.
  std::size_t RequestsSentBefore(std::size_t callCount) const {
    const auto end = machine.core.calls.begin() + static_cast<std::ptrdiff_t>(callCount);
    return static_cast<std::size_t>(
        std::count(machine.core.calls.begin(), end, std::wstring(L"Internet.SendRequestEx")));
  }

  // After a whole run: nothing left open. Started detached, the tool has no
  // console input to empty.
  void ExpectNoHandlesLeft() const {
    const auto& calls = machine.core.calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), kFlush), 0);
    EXPECT_EQ(calls.back().rfind(L"Process.Terminate ", 0), 0u);
    EXPECT_EQ(machine.services.OpenHandles(), 0u);
    EXPECT_EQ(machine.registry.OpenHandles(), 0u);
    EXPECT_EQ(machine.files.OpenFiles(), 0u);
    EXPECT_EQ(machine.internet.OpenHandles(), 0u);
    EXPECT_EQ(machine.power.OpenTokens(), 0);
  }

  sim::SimMachine machine;
};

TEST_F(RemovalRunTest, DecliningEndsAtOnceWithOnlyTheStartEvent) {
  InstallProduct();
  machine.keyboard.Tap(E, 150);

  EXPECT_EQ(Run(), 2);

  EXPECT_EQ(machine.console.str(), std::wstring(kBanner) + kAgreement);
  // From the start, Ctrl+C or closing the window ends the process as the run does.
  EXPECT_EQ(machine.core.calls.front(), L"Process.EndOnConsoleControl");
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Field(Events()[0], L"module"), L"start");
  EXPECT_EQ(Field(Events()[0], L"build"), kRunId);
  // Declining leaves at once: no key is read after the 'E'.
  EXPECT_EQ(machine.keyboard.queries().back().virtualKey, E);
  EXPECT_EQ(machine.clock.TotalSleptMs(), 200u);
  // Nothing on the machine was looked at.
  EXPECT_TRUE(machine.services.managerAccesses().empty());
  EXPECT_TRUE(machine.registry.opens().empty());
  EXPECT_TRUE(machine.files.fileCalls().empty());
  EXPECT_TRUE(machine.services.Exists(L"tslwfs"));
  ExpectNoHandlesLeft();
}

TEST_F(RemovalRunTest, InAConsoleTheEndDropsWhatWasTypedOnceTheKeysAreUpOrASecondHasPassed) {
  // The key-up of the 'E' that ended the run would reach the shell that started
  // the tool: the end waits for it, not for ever, then empties the input.
  for (const std::uint64_t upMs : {std::uint64_t{450}, sim::SimKeyboard::kNever}) {
    sim::SimMachine fresh;
    fresh.keyboard.SetConsoleInput(true);
    fresh.keyboard.Type(E, 50, upMs);
    EXPECT_EQ(run::RemovalRun(fresh.platform()), 2);
    const auto& calls = fresh.core.calls;
    EXPECT_EQ(
        std::vector<std::wstring>(calls.end() - 3, calls.end()),
        (std::vector<std::wstring>{kFlush, L"Keyboard.CloseConsoleInput", L"Process.Terminate 2"}));
    EXPECT_EQ(fresh.core.nowMs, upMs == 450u ? 450u : 1050u);
  }
}

TEST_F(RemovalRunTest, TheStartEventIsSentBeforeTheAgreementIsAsked) {
  machine.keyboard.Tap(E, 50);

  EXPECT_EQ(Run(), 2);

  ASSERT_FALSE(machine.keyboard.queries().empty());
  EXPECT_EQ(RequestsSentBefore(machine.keyboard.queries().front().callIndex), 1u);
  EXPECT_EQ(machine.identifiers.created(), 1);
}

TEST_F(RemovalRunTest, WithTheSenderStuckThePromptComesAtOnceAndEveryWayOutInTwoSeconds) {
  struct Way {
    int code;
    bool product;
    bool rights;
    int key;  // held after 'A'; none: 'E' at the agreement
  };
  // Detached, then in a console with keys held for good: no wait for their
  // key-ups past the 2 s.
  for (const bool console : {false, true}) {
    for (const Way way : {Way{2, false, true, 0}, Way{-1, true, false, E}, Way{1, true, true, Y},
                          Way{0, false, true, E}}) {
      SCOPED_TRACE(std::to_string(way.code) + (console ? " in a console" : " detached"));
      sim::SimMachine m;
      m.process.SetThreads(sim::SimProcess::Threads::kNever);
      if (way.product) InstallProduct(m);
      if (!way.rights) m.services.Find(L"tslwfs")->fullAccessError = 5;
      if (console) {
        m.keyboard.SetConsoleInput(true);
        m.keyboard.Arrive(150, {Kind::kKeyDown, way.key == 0 ? E : A});
        if (way.key != 0) m.keyboard.Arrive(200000, {Kind::kKeyDown, way.key});
      } else {
        m.keyboard.Tap(way.key == 0 ? E : A, 150);
        if (way.key != 0) m.keyboard.Hold(way.key, kLaterKeysMs);
      }
      EXPECT_EQ(run::RemovalRun(m.platform()), way.code);
      EXPECT_EQ(m.process.terminatedWith(), way.code);
      if (console) {
        EXPECT_EQ(m.process.terminatedAtMs(), way.key == 0 ? 2150u : 202000u);
      } else {
        EXPECT_EQ(m.keyboard.queries().front().atMs, 0u);
        EXPECT_EQ(m.process.terminatedAtMs() - m.keyboard.queries().back().atMs, 2000u);
      }
    }
  }
}

TEST_F(RemovalRunTest, AStartEventStillOnItsWayIsWaitedForWhenTheRunIsDeclinedAtOnce) {
  machine.process.SetThreads(sim::SimProcess::Threads::kAtNextSleep);
  machine.keyboard.Hold(E, 0);

  EXPECT_EQ(Run(), 2);

  EXPECT_EQ(Modules(), std::vector<std::wstring>{L"start"});
  EXPECT_EQ(machine.process.terminatedAtMs(), 100u);
}

TEST_F(RemovalRunTest, CleanMachineReportsEveryItemAbsentAndExitsWithE) {
  AcceptAndHold({E});

  EXPECT_EQ(Run(), 0);

  const std::wstring expected =
      std::wstring(kBanner) + kAgreement +
      L"Service is not present: tslwfs\n"
      L"Service is not present: tsld\n"
      L"File is not present: C:\\Windows\\system32\\drivers\\tsld.sys\n"
      L"Directory is not present: C:\\Program Files\\Orvane Tessel Web Protection\n"
      L"Directory is not present: C:\\ProgramData\\Microsoft\\Windows\\Start "
      L"Menu\\Programs\\Orvane Tessel Web Protection\n"
      L"Registry key is not present: SOFTWARE\\Orvane Systems\n"
      L"Registry key is not present: "
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Tessel Web Protection\n" +
      TelemetryPause() + kExitWait;
  EXPECT_EQ(machine.console.str(), expected);

  EXPECT_EQ(Modules(), (std::vector<std::wstring>{L"start", L"done"}));
  const sim::FormFields done = Events()[1];
  EXPECT_EQ(Field(done, L"errors"), L"0");
  EXPECT_EQ(Field(done, L"reboot"), L"No");
  EXPECT_EQ(Field(done, L"build"), kRunId);
  EXPECT_TRUE(machine.power.tokenAccessRequests().empty());
  EXPECT_EQ(machine.process.consoleControlText(), nullptr);
  ExpectNoHandlesLeft();
}

TEST_F(RemovalRunTest, FullRemovalDeclinedRestartRemovesEverythingAndExitsWithE) {
  InstallProduct();
  AcceptAndHold({N, E});

  EXPECT_EQ(Run(), 0);

  const std::wstring expected =
      std::wstring(kBanner) + kAgreement +
      L"Waiting for tslwfs to stop ..\n"
      L"tslwfs is stopped\n"
      L"Service deleted: tslwfs\n"
      L"Service deleted: tsld\n"
      L"File deleted: C:\\Windows\\system32\\drivers\\tsld.sys\n"
      L"Directory deleted: C:\\Program Files\\Orvane Tessel Web Protection\n"
      L"Directory deleted: C:\\ProgramData\\Microsoft\\Windows\\Start "
      L"Menu\\Programs\\Orvane Tessel Web Protection\n"
      L"Registry key deleted: SOFTWARE\\Orvane Systems\n"
      L"Registry key deleted: "
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Tessel Web Protection\n" +
      TelemetryPause() + kQuestion + kManualRestart + kExitWait;
  EXPECT_EQ(machine.console.str(), expected);

  // The machine after: the product gone, its neighbours left alone.
  EXPECT_FALSE(machine.services.Exists(L"tslwfs"));
  EXPECT_FALSE(machine.services.Exists(L"tsld"));
  EXPECT_FALSE(machine.files.Exists(kDriverFile));
  EXPECT_FALSE(machine.files.Exists(kInstallDir));
  EXPECT_FALSE(machine.files.Exists(kStartMenuDir));
  EXPECT_TRUE(machine.files.Exists(L"C:\\Program Files\\Other\\other.exe"));
  EXPECT_FALSE(machine.registry.HasKey(kProductKey));
  EXPECT_FALSE(machine.registry.HasKey(kVendorKey));
  EXPECT_FALSE(machine.registry.HasKey(kUninstallKey));
  EXPECT_TRUE(
      machine.registry.HasKey(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"));

  EXPECT_EQ(Modules(), (std::vector<std::wstring>{L"start", L"done"}));
  EXPECT_EQ(Field(Events()[1], L"errors"), L"0");
  EXPECT_EQ(Field(Events()[1], L"reboot"), L"Yes");
  EXPECT_TRUE(machine.power.exitRequests().empty());
  // Ctrl+C or a closed window from the deletions on says what is left to do.
  EXPECT_STREQ(machine.process.consoleControlText(),
               "\n\nPlease manually restart the computer to complete the removal procedure.\n");
  ExpectNoHandlesLeft();
}

TEST_F(RemovalRunTest, AcceptedRestartEndsWithOneAndNoExitKeyWait) {
  InstallProduct();
  AcceptAndHold({Y, E});

  EXPECT_EQ(Run(), 1);

  ExpectConsoleEndsWith(TelemetryPause() + kQuestion);
  EXPECT_TRUE(machine.power.restarting());
  ASSERT_EQ(machine.power.exitRequests().size(), 1u);
  EXPECT_EQ(machine.power.exitRequests()[0].flags, 0x12u);
  // The question's Y was the last key read: no 'E' was waited for.
  EXPECT_EQ(machine.keyboard.queries().back().virtualKey, Y);
  ExpectNoHandlesLeft();
}

TEST_F(RemovalRunTest, AFailedRestartRequestEndsLikeADeclinedOne) {
  InstallProduct();
  machine.power.SetAdjustLastError(1300);
  AcceptAndHold({Y, E});

  EXPECT_EQ(Run(), 0);

  ExpectConsoleEndsWith(
      TelemetryPause() + kQuestion +
      L"\nERROR: The restart request failed.  Please manually reboot to complete the removal "
      L"process.\n" +
      kExitWait);
  EXPECT_FALSE(machine.power.restarting());
  // The failure is the user's to act on, not a removal failure: no event.
  EXPECT_EQ(Modules(), (std::vector<std::wstring>{L"start", L"done"}));
  ExpectNoHandlesLeft();
}

TEST_F(RemovalRunTest, WithoutRightsToStopTheServiceTheRunTakesTheNonAdminExit) {
  InstallProduct();
  machine.services.Find(L"tslwfs")->fullAccessError = 5;
  machine.services.Find(L"tsld")->fullAccessError = 5;
  AcceptAndHold({E});

  EXPECT_EQ(Run(), -1);

  const std::wstring expected = std::wstring(kBanner) + kAgreement +
                                L"tessel_remove requires Administrator access.\n"
                                L"ERROR code: 5 Message: Access is denied.\r\n\n\n" +
                                TelemetryPause() +
                                L"\nUnable to continue as not able to stop the service tslwfs.\n" +
                                kExitWait;
  EXPECT_EQ(machine.console.str(), expected);

  EXPECT_EQ(Modules(), (std::vector<std::wstring>{L"start", L"error", L"non-admin-exit"}));
  EXPECT_EQ(Field(Events()[1], L"error"), L"SvcStop");
  for (const sim::FormFields& event : Events()) {
    EXPECT_EQ(Field(event, L"build"), kRunId);
  }
  // The event goes out before the pause, and 'E' is read only after it.
  const std::vector<sim::SleepRecord> sleeps = machine.clock.sleeps();
  ASSERT_EQ(sleeps.size(), 31u);  // the agreement's one pass, then the pause
  EXPECT_EQ(RequestsSentBefore(sleeps[1].callIndex), 3u);
  const std::uint64_t pauseEnd = sleeps.back().startMs + 1000;
  EXPECT_EQ(machine.keyboard.queries().back().atMs, pauseEnd);

  // Nothing was removed.
  EXPECT_TRUE(machine.services.Exists(L"tslwfs"));
  EXPECT_TRUE(machine.services.Exists(L"tsld"));
  EXPECT_TRUE(machine.files.Exists(kDriverFile));
  EXPECT_TRUE(machine.files.Exists(kInstallDir));
  EXPECT_TRUE(machine.registry.HasKey(kProductKey));
  EXPECT_TRUE(machine.registry.HasKey(kUninstallKey));
  ExpectNoHandlesLeft();
}

TEST_F(RemovalRunTest, FailuresAreCountedAndDeferredItemsAskForNoRestart) {
  // Only the filter service, already stopped; a file in use in the Start menu;
  // another product of the vendor still installed.
  machine.services.Install(L"tslwfs");
  machine.files.AddFile(std::wstring(kInstallDir) + L"\\bin\\tesselui.exe");
  const std::wstring shortcut = std::wstring(kStartMenuDir) + L"\\Tessel Web Protection.lnk";
  machine.files.AddFile(shortcut);
  machine.files.SetInUse(shortcut);
  machine.registry.AddKey(kProductKey);
  machine.registry.AddKey(L"SOFTWARE\\Orvane Systems\\Another Product");
  machine.registry.AddKey(kUninstallKey);
  AcceptAndHold({E});

  EXPECT_EQ(Run(), 0);

  const std::wstring expected =
      std::wstring(kBanner) + kAgreement +
      L"tslwfs is stopped\n"
      L"Service deleted: tslwfs\n"
      L"Service is not present: tsld\n"
      L"File is not present: C:\\Windows\\system32\\drivers\\tsld.sys\n"
      L"Directory deleted: C:\\Program Files\\Orvane Tessel Web Protection\n"
      L"Directory will be deleted when the system reboots: C:\\ProgramData\\Microsoft\\Windows\\"
      L"Start Menu\\Programs\\Orvane Tessel Web Protection\n"
      L"\n"
      L"ERROR deleting key: SOFTWARE\\Orvane Systems\n"
      L"ERROR code: 5 Message: Access is denied.\r\n\n\n"
      L"Registry key deleted: "
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Tessel Web Protection\n" +
      TelemetryPause() + kExitWait;
  EXPECT_EQ(machine.console.str(), expected);

  EXPECT_EQ(Modules(), (std::vector<std::wstring>{L"start", L"error", L"done"}));
  EXPECT_EQ(Field(Events()[1], L"error"), L"RegDelete");
  EXPECT_EQ(Field(Events()[1], L"message"), kVendorKey);
  EXPECT_EQ(Field(Events()[2], L"errors"), L"1");
  EXPECT_EQ(Field(Events()[2], L"reboot"), L"No");
  EXPECT_FALSE(machine.registry.HasKey(kProductKey));
  EXPECT_TRUE(machine.registry.HasKey(L"SOFTWARE\\Orvane Systems\\Another Product"));
  ExpectNoHandlesLeft();
}

TEST_F(RemovalRunTest, AFilterServiceAlreadyMarkedForDeletionAsksForTheRestart) {
  machine.services.InstallMarkedForDeletion(L"tslwfs");
  AcceptAndHold({N, E});

  EXPECT_EQ(Run(), 0);

  EXPECT_NE(machine.console.str().find(
                L"Service marked for deletion: tslwfs\nService is not present: tsld\n"),
            std::wstring::npos);
  ExpectConsoleEndsWith(TelemetryPause() + kQuestion + kManualRestart + kExitWait);
  EXPECT_EQ(Field(Events().back(), L"reboot"), L"Yes");
  EXPECT_EQ(Field(Events().back(), L"errors"), L"0");
}

TEST_F(RemovalRunTest, TheDoneEventGoesOutBeforeThePauseAndTheQuestion) {
  InstallProduct();
  AcceptAndHold({N, E});

  EXPECT_EQ(Run(), 0);

  // The pause is the first sleep after the done event, and the last: 'N' and
  // 'E' are held when their prompts start, so neither prompt sleeps.
  const std::vector<sim::SleepRecord> sleeps = machine.clock.sleeps();
  const auto pause = std::find_if(sleeps.begin(), sleeps.end(), [&](const sim::SleepRecord& s) {
    return RequestsSentBefore(s.callIndex) == Events().size();
  });
  ASSERT_NE(pause, sleeps.end());
  ASSERT_EQ(sleeps.end() - pause, 30);
  for (auto step = pause; step != pause + 30; ++step) {
    EXPECT_EQ(step->milliseconds, 1000u);
  }
  // The question's first key is read when the pause is over.
  const auto question =
      std::find_if(machine.keyboard.queries().begin(), machine.keyboard.queries().end(),
                   [](const sim::KeyQuery& q) { return q.virtualKey == Y; });
  ASSERT_NE(question, machine.keyboard.queries().end());
  EXPECT_EQ(question->atMs, pause->startMs + 30000);
}

TEST_F(RemovalRunTest, TelemetryThatCannotBeDeliveredChangesNothing) {
  const auto runWith = [](void (*setUp)(sim::SimInternet&)) {
    sim::SimMachine m;
    m.identifiers.SetUuid(kRunId);
    setUp(m.internet);
    // A send that times out delays the prompt: keys are held, not tapped, and
    // 'E' goes down only once the agreement has surely been answered.
    m.keyboard.Hold(A, 0);
    m.keyboard.Hold(E, 100000);
    const int code = run::RemovalRun(m.platform());
    return std::make_pair(code, m.console.str());
  };
  const auto delivered = runWith([](sim::SimInternet&) {});
  ASSERT_EQ(delivered.first, 0);

  const std::pair<const char*, void (*)(sim::SimInternet&)> failures[] = {
      {"no network", [](sim::SimInternet& i) { i.SetAttemptConnectResult(12163); }},
      {"server error", [](sim::SimInternet& i) { i.SetStatus(500); }},
      {"no answer", [](sim::SimInternet& i) { i.SetSendOutcome(sim::SendOutcome::kNoAnswer); }},
      {"never answers",
       [](sim::SimInternet& i) { i.SetSendOutcome(sim::SendOutcome::kNeverAnswers); }},
  };
  for (const auto& [name, setUp] : failures) {
    SCOPED_TRACE(name);
    EXPECT_EQ(runWith(setUp), delivered);
  }
}

TEST_F(RemovalRunTest, APressOfEDuringThePauseDoesNotEndTheExitKeyWait) {
  AcceptAgreement();
  machine.keyboard.Tap(E, 10000);  // while the dots are being written
  machine.keyboard.Tap(E, 45000);

  EXPECT_EQ(Run(), 0);

  const std::uint64_t endedAt = machine.keyboard.queries().back().atMs;
  EXPECT_GE(endedAt, 45000u);
  EXPECT_LT(endedAt, 45100u);
}

TEST_F(RemovalRunTest, EveryEventOfTheRunCarriesTheOneRunId) {
  InstallProduct();
  machine.services.Find(L"tsld")->deleteError = 1051;
  machine.files.SetShellResult(kInstallDir, 0x402);
  AcceptAndHold({N, E});

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(Modules(), (std::vector<std::wstring>{L"start", L"error", L"error", L"done"}));
  for (const sim::FormFields& event : Events()) {
    EXPECT_EQ(Field(event, L"build"), kRunId);
  }
  EXPECT_EQ(Field(Events()[1], L"error"), L"SvcDelete");
  EXPECT_EQ(Field(Events()[2], L"error"), L"FileDelete");
  EXPECT_EQ(Field(Events()[3], L"errors"), L"2");
  // "tsld" was not deleted, "tslwfs" needs no restart: none is offered.
  EXPECT_EQ(Field(Events()[3], L"reboot"), L"No");
  EXPECT_EQ(machine.console.str().find(kQuestion), std::wstring::npos);
  EXPECT_EQ(machine.identifiers.created(), 1);
}

}  // namespace
