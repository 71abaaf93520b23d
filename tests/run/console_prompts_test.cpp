#include "run/console_prompts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "run/agreement_display.h"
#include "run/restart_request.h"
#include "tests/sim/sim_machine.h"

namespace {

constexpr wchar_t kAgreementText[] =
    L"\nPress one of the following keys:\n"
    L"  'A' to accept the EULA\n"
    L"  'E' to exit the tool\n"
    L"  'D' to display the EULA in the browser\n";

constexpr wchar_t kExitText[] = L"\nPress the 'E' key to exit the tool.\n";

// GetAsyncKeyState knows the A key as 'A'; there is no 'a'.
constexpr int A = 'A';
constexpr int D = 'D';
constexpr int E = 'E';

using Kind = platform::ConsoleInputRecord::Kind;

// The prompt with the keys and the page of its own, as the run gives them.
bool Agreement(platform::Platform& platform) {
  const std::unique_ptr<run::PromptKeys> keys = run::OpenPromptKeys(platform);
  run::AgreementPage page(platform);
  return run::AgreementPrompt(platform, *keys, page);
}

// A prompt's answer and when it came, as "1 at 200".
std::wstring AnsweredAt(bool answer, const sim::SimMachine& m) {
  return std::to_wstring(answer) + L" at " + std::to_wstring(m.core.nowMs);
}

class AgreementPromptTest : public ::testing::Test {
 protected:
  AgreementPromptTest() {
    machine.shell.SetEnvironmentVariable(L"TEMP", L"C:\\Users\\pat\\AppData\\Local\\Temp");
    machine.files.AddDirectory(L"C:\\Users\\pat\\AppData\\Local\\Temp");
    machine.shell.AddResource(256, 101, {'<', 'h', 't', 'm', 'l', '>'});
  }

  bool Prompt() { return Agreement(machine.platform()); }
  std::size_t PagesOpened() const { return machine.shell.openRequests().size(); }

  sim::SimMachine machine;
};

TEST_F(AgreementPromptTest, AcceptsWithAAndPollsEADWithAPauseBetweenPasses) {
  machine.keyboard.Tap(A, 250);

  EXPECT_TRUE(Prompt());

  EXPECT_EQ(machine.console.str(), kAgreementText);
  // One pass to drop earlier presses, then E once, then A, D, pause, E ...
  const std::vector<int> expected = {E, A, D, E, A, D, E, A, D, E, A, D, E, A};
  EXPECT_EQ(machine.keyboard.QueriedKeys(), expected);
  EXPECT_EQ(machine.clock.SleepLengths(), (std::vector<std::uint32_t>{100, 100, 100}));
  EXPECT_EQ(machine.keyboard.queries().back().atMs, 300u);
  EXPECT_EQ(PagesOpened(), 0u);
}

TEST_F(AgreementPromptTest, ExitsWithEReadAfterThePause) {
  machine.keyboard.Tap(E, 150);

  EXPECT_FALSE(Prompt());

  const std::vector<int> expected = {E, A, D, E, A, D, E, A, D, E};
  EXPECT_EQ(machine.keyboard.QueriedKeys(), expected);
  EXPECT_EQ(machine.core.nowMs, 200u);
  EXPECT_EQ(machine.console.str(), kAgreementText);
}

TEST_F(AgreementPromptTest, KeysHeldWhenThePromptStartsDecideInQueryOrder) {
  {
    SCOPED_TRACE("E and A held: E is read first");
    sim::SimMachine m;
    m.keyboard.Hold(E, 0);
    m.keyboard.Hold(A, 0);
    EXPECT_FALSE(Agreement(m.platform()));
    EXPECT_EQ(m.keyboard.QueriedKeys(), (std::vector<int>{E, A, D, E}));
    EXPECT_TRUE(m.clock.sleeps().empty());
  }
  {
    SCOPED_TRACE("A and D held: A wins and the page is not shown");
    sim::SimMachine m;
    m.shell.SetEnvironmentVariable(L"TEMP", L"C:\\Temp");
    m.files.AddDirectory(L"C:\\Temp");
    m.shell.AddResource(256, 101, {'x'});
    m.keyboard.Hold(A, 0);
    m.keyboard.Hold(D, 0);
    EXPECT_TRUE(Agreement(m.platform()));
    EXPECT_TRUE(m.shell.openRequests().empty());
    EXPECT_FALSE(m.files.Exists(L"C:\\Temp\\tessel_removal_eula.html"));
  }
}

TEST_F(AgreementPromptTest, PressesMadeBeforeThePromptAppearedDoNotCount) {
  machine.core.nowMs = 5000;
  machine.keyboard.Tap(E, 1000);
  machine.keyboard.Tap(D, 2000);
  machine.keyboard.Tap(A, 5320);

  // The early E would have declined, the early D shown the page.
  EXPECT_TRUE(Prompt());

  EXPECT_EQ(PagesOpened(), 0u);
  EXPECT_EQ(machine.core.nowMs, 5400u);
}

TEST(PromptTest, InAConsoleAKeyTypedTheMomentThePromptShowsCounts) {
  // Each prompt with its key typed as its last line shows, and the other
  // answer typed a second later.
  const auto answer = [](const wchar_t* shown, int key, int later, auto prompt) {
    sim::SimMachine m;
    m.keyboard.SetConsoleInput(true);
    m.TypeWhenShown(shown, key);
    m.keyboard.Type(later, 1000, 1000);
    const bool answered = prompt(m);
    return AnsweredAt(answered, m);
  };
  EXPECT_EQ(answer(L"browser\n", A, E, [](sim::SimMachine& m) { return Agreement(m.platform()); }),
            L"1 at 0");
  EXPECT_EQ(answer(L"exit the tool.\n", E, E,
                   [](sim::SimMachine& m) {
                     run::ExitKeyWait(m.platform(), *run::OpenPromptKeys(m.platform()));
                     return true;
                   }),
            L"1 at 0");
  EXPECT_EQ(answer(L"manually restart.\n", 'Y', 'N',
                   [](sim::SimMachine& m) {
                     return run::AskRestart(m.platform(), *run::OpenPromptKeys(m.platform()));
                   }),
            L"1 at 0");
}

TEST_F(AgreementPromptTest, InAConsoleTheFirstKeyDownThatCountsDecidesAsItArrives) {
  machine.keyboard.SetConsoleInput(true);
  machine.keyboard.Arrive(30, {});  // the mouse, the focus, the buffer's size
  machine.keyboard.Type('X', 60, 90);
  machine.keyboard.Arrive(120, {Kind::kKeyDown, 0x10});  // Shift, for a capital
  machine.keyboard.Type(A, 120, 180);
  machine.keyboard.Type(E, 130, 150);  // in the same pass, after the A

  EXPECT_TRUE(Prompt());

  EXPECT_EQ(machine.core.nowMs, 120u);
  ASSERT_EQ(machine.keyboard.inputWaits().size(), 4u);
  for (const sim::SleepRecord& wait : machine.keyboard.inputWaits()) {
    EXPECT_EQ(wait.milliseconds, 100u);
  }
  EXPECT_TRUE(machine.keyboard.queries().empty());
  EXPECT_TRUE(machine.clock.sleeps().empty());
}

TEST_F(AgreementPromptTest, InAConsoleOnlyADeliberateKeyAnswers) {
  // What a terminal sends, then 'e' at 1000 ms: the answer, and when it came.
  const auto answer = [](std::initializer_list<std::pair<std::uint64_t, const wchar_t*>> sent) {
    sim::SimMachine m;
    m.keyboard.SetConsoleInput(true);
    for (const auto& [at, text] : sent) m.keyboard.SendFromTerminal(at, text);
    m.keyboard.SendFromTerminal(1000, L"e");
    const bool accepted = Agreement(m.platform());
    EXPECT_EQ(m.core.calls.size(), 2u);  // the console opened and closed: no page was shown
    return AnsweredAt(accepted, m);
  };
  EXPECT_EQ(answer({{40, L"\x1b"}, {60, L"x"}, {250, L"e"}}), L"0 at 250");  // Alt+x, then e
  EXPECT_EQ(answer({{200, L"A"}}), L"1 at 200");    // an upper-case letter without a key code
  EXPECT_EQ(answer({{200, L"a\r"}}), L"1 at 200");  // with the Enter of a line-mode host
  EXPECT_EQ(answer({{200, L"Tracking number 4471"}}), L"0 at 1000");  // a pasted line
  // Arrows, keypad 5, F1, Ctrl+Up; Alt+a; a sequence split across two reads.
  EXPECT_EQ(answer({{100, L"\x1b[A\x1b[D\x1b[E\x1bOP\x1b[1;5A"}}), L"0 at 1000");
  EXPECT_EQ(answer({{300, L"\x1b"}, {350, L"a"}, {500, L"\x1b[1;5"}, {550, L"D"}}), L"0 at 1000");
  EXPECT_EQ(answer({{300, L"\x1b"}, {450, L"a"}}), L"1 at 450");  // Escape alone, then a letter

  // An input method's letter (VK_PACKET).
  machine.keyboard.SetConsoleInput(true);
  machine.keyboard.Arrive(200, {Kind::kKeyDown, platform::kVirtualKeyPacket, L'a'});
  machine.keyboard.Arrive(200, {Kind::kKeyUp, platform::kVirtualKeyPacket, L'a'});
  EXPECT_TRUE(Prompt());
}

TEST_F(AgreementPromptTest, InAConsoleAHeldKeyCountsOnceAndWhatCameBeforeThePromptNotAtAll) {
  machine.keyboard.SetConsoleInput(true);
  machine.core.nowMs = 1000;
  machine.keyboard.Type(E, 200, 300);
  const auto down = [&](int key, std::initializer_list<std::uint64_t> times) {
    for (const std::uint64_t at : times) machine.keyboard.Arrive(at, {Kind::kKeyDown, key});
  };
  down(D, {900, 1100, 1150});  // held since before the prompt, repeating
  machine.keyboard.Arrive(1200, {Kind::kKeyUp, D});
  down(D, {1300, 1350, 1400});  // one press: one page
  // Released while the page was in front, which got the key-up; pressed again.
  down(D, {3500});
  machine.keyboard.Type(A, 3700, 3750);

  EXPECT_TRUE(Prompt());

  EXPECT_EQ(PagesOpened(), 2u);
  EXPECT_EQ(machine.core.nowMs, 3700u);
}

TEST_F(AgreementPromptTest, DShowsThePageOnceAndPollingGoesOnWithoutRepeatingTheText) {
  machine.keyboard.Tap(D, 50);
  machine.keyboard.Tap(A, 250);

  EXPECT_TRUE(Prompt());

  ASSERT_EQ(PagesOpened(), 1u);
  EXPECT_EQ(machine.shell.openRequests()[0].path,
            L"C:\\Users\\pat\\AppData\\Local\\Temp\\tessel_removal_eula.html");
  EXPECT_EQ(machine.console.str(), kAgreementText);
}

TEST_F(AgreementPromptTest, HoldingDShowsThePageOnceAndAgainOnlyAfterItsRelease) {
  // Down for ten passes, then for four, then two taps between passes.
  machine.keyboard.Press(D, 0, 1000);
  machine.keyboard.Press(D, 1250, 1650);
  machine.keyboard.Tap(D, 1750);
  machine.keyboard.Tap(D, 1850);
  machine.keyboard.Tap(A, 2450);

  EXPECT_TRUE(Prompt());

  EXPECT_EQ(PagesOpened(), 4u);
  EXPECT_EQ(machine.core.nowMs, 2500u);
}

// The machine's shell, except that opening the page puts keys down, as a user
// does who presses them while the browser comes up.
class KeysWhileOpeningShell : public platform::DesktopShell {
 public:
  KeysWhileOpeningShell(sim::SimMachine& machine, std::vector<int> keys)
      : machine_(machine), keys_(std::move(keys)) {}

  std::optional<platform::DesktopShellAccount> FindDesktopShellAccount() override {
    return machine_.shell.FindDesktopShellAccount();
  }
  bool OpenDocumentAsDesktopUser(const std::wstring& path, int showCommand) override {
    for (const int key : keys_) {
      machine_.keyboard.Hold(key, machine_.core.nowMs);
    }
    return machine_.shell.OpenDocumentAsDesktopUser(path, showCommand);
  }

 private:
  sim::SimMachine& machine_;
  std::vector<int> keys_;
};

class AgreementPromptPageTest : public AgreementPromptTest {
 protected:
  // Runs the prompt with the page shown once, at 100 ms, and `keys` going down
  // while it opens.
  bool PromptWithKeysDownWhileOpening(std::vector<int> keys) {
    machine.keyboard.Tap(D, 50);
    KeysWhileOpeningShell shell(machine, std::move(keys));
    const platform::Platform& base = machine.platform();
    platform::Platform platform{base.console, base.services,    base.registry,    base.files,
                                base.process, base.internet,    base.errors,      base.keyboard,
                                base.clock,   base.identifiers, base.environment, base.resources,
                                shell,        base.power};
    return Agreement(platform);
  }
};

TEST_F(AgreementPromptPageTest, AHeldWhileThePageOpensAcceptsAfterThePause) {
  EXPECT_TRUE(PromptWithKeysDownWhileOpening({A}));

  EXPECT_EQ(PagesOpened(), 1u);
  // The pass that showed the page pauses, then reads E, then A.
  const std::vector<int> expected = {E, A, D, E, A, D, E, A, D, E, A};
  EXPECT_EQ(machine.keyboard.QueriedKeys(), expected);
  EXPECT_EQ(machine.keyboard.queries().back().atMs, 200u);
}

TEST_F(AgreementPromptPageTest, AAndEHeldWhileThePageOpensExitBecauseEIsReadFirst) {
  EXPECT_FALSE(PromptWithKeysDownWhileOpening({A, E}));

  EXPECT_EQ(PagesOpened(), 1u);
  const std::vector<int> expected = {E, A, D, E, A, D, E, A, D, E};
  EXPECT_EQ(machine.keyboard.QueriedKeys(), expected);
  EXPECT_EQ(machine.keyboard.queries().back().atMs, 200u);
}

TEST_F(AgreementPromptTest, DWithoutTempChangesNothingAndThePromptWaitsOn) {
  machine.shell.UnsetEnvironmentVariable(L"TEMP");
  machine.keyboard.Tap(D, 50);
  machine.keyboard.Tap(E, 450);

  EXPECT_FALSE(Prompt());

  EXPECT_EQ(PagesOpened(), 0u);
  EXPECT_TRUE(machine.files.fileCalls().empty());
  EXPECT_EQ(machine.console.str(), kAgreementText);
  EXPECT_EQ(machine.core.nowMs, 500u);
}

class ExitKeyWaitTest : public ::testing::Test {
 protected:
  void ExitWait() {
    run::ExitKeyWait(machine.platform(), *run::OpenPromptKeys(machine.platform()));
  }

  sim::SimMachine machine;
};

TEST_F(ExitKeyWaitTest, ReturnsAtTheFirstRealQueryWhenEIsHeld) {
  machine.core.nowMs = 1000;
  machine.keyboard.Hold(E, 400);

  ExitWait();

  EXPECT_EQ(machine.console.str(), kExitText);
  EXPECT_EQ(machine.keyboard.QueriedKeys(), (std::vector<int>{E, E}));
  EXPECT_TRUE(machine.clock.sleeps().empty());
}

TEST_F(ExitKeyWaitTest, IgnoresAnEarlierTapAndPollsEvery100Ms) {
  machine.core.nowMs = 1000;
  machine.keyboard.Tap(E, 500);
  machine.keyboard.Tap(E, 1350);

  ExitWait();

  EXPECT_EQ(machine.core.nowMs, 1400u);
  EXPECT_EQ(machine.clock.SleepLengths(), (std::vector<std::uint32_t>(4, 100)));
  for (const sim::KeyQuery& query : machine.keyboard.queries()) {
    EXPECT_EQ(query.virtualKey, E);
  }
}

TEST_F(ExitKeyWaitTest, AConsoleInputThatFailsIsWaitedForInPausesNotInABusyLoop) {
  machine.keyboard.SetConsoleInput(true);
  machine.keyboard.FailConsoleWaits(300);
  machine.keyboard.Type(E, 150, 200);

  ExitWait();

  EXPECT_EQ(machine.clock.SleepLengths(), (std::vector<std::uint32_t>(3, 100)));
  EXPECT_EQ(machine.core.nowMs, 300u);
}

TEST_F(ExitKeyWaitTest, OtherKeysAreNotRead) {
  machine.keyboard.Hold(A, 0);
  machine.keyboard.Hold(static_cast<int>('N'), 0);
  machine.keyboard.Tap(E, 230);

  ExitWait();

  EXPECT_EQ(machine.core.nowMs, 300u);
}

// Records what the console showed after every write, and when.
class FlushRecorder : public platform::ConsoleOutput {
 public:
  explicit FlushRecorder(const sim::SimCore& core) : core_(core) {}

  struct Flush {
    std::uint64_t atMs;
    std::wstring shown;
  };
  std::vector<Flush> flushes;
  std::wstring text;

  void Write(std::wstring_view s) override {
    text.append(s);
    flushes.push_back({core_.nowMs, text});
  }

 private:
  const sim::SimCore& core_;
};

TEST(TelemetryWaitTest, WritesThirtyDotsOnePerSecondWithoutReadingKeys) {
  sim::SimMachine machine;
  machine.keyboard.Hold(E, 0);
  FlushRecorder recorder(machine.core);
  platform::Console console(recorder);
  platform::Platform base = machine.platform();
  platform::Platform platform{console,      base.services,    base.registry,    base.files,
                              base.process, base.internet,    base.errors,      base.keyboard,
                              base.clock,   base.identifiers, base.environment, base.resources,
                              base.shell,   base.power};

  run::TelemetryWait(platform);

  EXPECT_EQ(recorder.text, L"Sending telemetry " + std::wstring(30, L'.') + L"\n");
  EXPECT_EQ(machine.clock.SleepLengths(), (std::vector<std::uint32_t>(30, 1000)));
  EXPECT_EQ(machine.core.nowMs, 30000u);
  EXPECT_TRUE(machine.keyboard.queries().empty());

  // The user sees the dots appear one by one: the k-th is on screen at k s.
  for (int dots = 0; dots <= 30; ++dots) {
    const std::wstring shown =
        L"Sending telemetry " + std::wstring(static_cast<std::size_t>(dots), L'.');
    const std::uint64_t at = static_cast<std::uint64_t>(dots) * 1000;
    bool seen = false;
    for (const FlushRecorder::Flush& flush : recorder.flushes) {
      seen = seen || (flush.atMs == at && flush.shown == shown);
    }
    EXPECT_TRUE(seen) << dots << " dots were not shown at " << at << " ms";
  }
}

}  // namespace
