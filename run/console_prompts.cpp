#include "run/console_prompts.h"

#include <cstddef>

#include "run/agreement_display.h"

namespace run {

namespace {

// The most significant bit of a key state: down at the moment of the query.
bool IsDown(std::int16_t keyState) { return (static_cast<std::uint16_t>(keyState) & 0x8000U) != 0; }

// A key state with only the most significant bit.
constexpr std::int16_t kDownOnly = static_cast<std::int16_t>(0x8000U);

}  // namespace

bool ConsoleHasFocus(platform::Keyboard& keyboard) {
  const platform::WindowHandle console = keyboard.ConsoleWindow();
  if (console == nullptr) {
    return true;
  }
  const platform::WindowHandle front = keyboard.ForegroundWindow();
  return front != nullptr && (front == console || front == keyboard.RootOwner(console));
}

PromptKeys::PromptKeys(platform::Keyboard& keyboard, std::initializer_list<int> virtualKeys)
    : keyboard_(keyboard) {
  for (const int key : virtualKeys) {
    static_cast<void>(keyboard_.GetAsyncKeyState(key));
  }
}

std::int16_t PromptKeys::Read(int virtualKey) {
  // Queried in and out of focus alike: the query takes the "pressed since the
  // previous query" bit, so that a letter typed into another window is gone
  // by the time the focus comes back.
  const std::int16_t state = keyboard_.GetAsyncKeyState(virtualKey);
  Gate& gate = gates_[static_cast<std::size_t>(virtualKey) & 0xFFU];
  if (!ConsoleHasFocus(keyboard_)) {
    gate.outOfFocus = true;
    gate.heldOutside = IsDown(state);
    return 0;
  }
  const bool focusCameBack = gate.outOfFocus;
  gate.outOfFocus = false;
  if (gate.heldOutside) {
    gate.heldOutside = IsDown(state);
    return 0;
  }
  if (focusCameBack) {
    // Down now, yet up when last seen elsewhere: pressed as the focus came.
    return IsDown(state) ? kDownOnly : std::int16_t{0};
  }
  return state;
}

bool AgreementPrompt(platform::Platform& platform, AgreementPage& page) {
  platform::Console& out = platform.console;
  out << platform::endl << "Press one of the following keys:" << platform::endl;
  out << "  'A' to accept the EULA" << platform::endl;
  out << "  'E' to exit the tool" << platform::endl;
  out << "  'D' to display the EULA in the browser" << platform::endl;

  PromptKeys keys(platform.keyboard, {kKeyE, kKeyA, kKeyD});
  if (keys.Pressed(kKeyE)) {
    return false;
  }
  // One page per press: a 'D' still down from the press that opened the page
  // (a press lasts longer than a pass) counts again only after a query has
  // seen it up.
  bool dStillDown = false;
  for (;;) {
    if (keys.Pressed(kKeyA)) {
      return true;
    }
    const std::int16_t d = keys.Read(kKeyD);
    if (dStillDown) {
      dStillDown = IsDown(d);
    } else if (d != 0) {
      page.Show();
      dStillDown = IsDown(d);
    }
    platform.clock.Sleep(kPollIntervalMs);
    if (keys.Pressed(kKeyE)) {
      return false;
    }
  }
}

void ExitKeyWait(platform::Platform& platform) {
  platform.console << platform::endl << "Press the 'E' key to exit the tool." << platform::endl;

  PromptKeys keys(platform.keyboard, {kKeyE});
  while (!keys.Pressed(kKeyE)) {
    platform.clock.Sleep(kPollIntervalMs);
  }
}

void DiscardTypedKeys(platform::Platform& platform, std::uint32_t waitMs) {
  platform::Keyboard& keyboard = platform.keyboard;
  if (!keyboard.StandardInputIsConsole()) {
    return;
  }
  // The key state changes as the key goes down, a moment before the console
  // queues the letter (later still through a terminal's pseudo-console):
  // flushing at once could leave the last letter behind. Once the keys are
  // up again their letters are queued; a key held longer is not waited for.
  for (std::uint32_t waited = 0; waited < waitMs; waited += kPollIntervalMs) {
    bool anyDown = false;
    for (const int key : {kKeyA, kKeyD, kKeyE, kKeyN, kKeyY}) {
      anyDown = anyDown || keyboard.GetAsyncKeyState(key) < 0;
    }
    if (!anyDown) {
      break;
    }
    platform.clock.Sleep(kPollIntervalMs);
  }
  static_cast<void>(keyboard.FlushConsoleInput());
}

void TelemetryWait(platform::Platform& platform) {
  platform::Console& out = platform.console;
  // Flushed piece by piece so that the dots show one by one.
  out << "Sending telemetry " << platform::flush;
  for (int step = 0; step < kTelemetryWaitSteps; ++step) {
    platform.clock.Sleep(kTelemetryWaitStepMs);
    out << "." << platform::flush;
  }
  out << platform::endl;
}

}  // namespace run
