#include "run/console_prompts.h"

#include "run/agreement_display.h"

namespace run {

namespace {

// The most significant bit of a key state: down at the moment of the query.
bool IsDown(std::int16_t keyState) { return (static_cast<std::uint16_t>(keyState) & 0x8000U) != 0; }

}  // namespace

bool KeyPressed(platform::Keyboard& keyboard, int virtualKey) {
  // Either bit counts: down now, or pressed since the previous query.
  return keyboard.GetAsyncKeyState(virtualKey) != 0;
}

void ForgetEarlierPresses(platform::Keyboard& keyboard, std::initializer_list<int> virtualKeys) {
  for (const int key : virtualKeys) {
    static_cast<void>(keyboard.GetAsyncKeyState(key));
  }
}

bool AgreementPrompt(platform::Platform& platform) {
  platform::Console& out = platform.console;
  out << platform::endl << "Press one of the following keys:" << platform::endl;
  out << "  'A' to accept the EULA" << platform::endl;
  out << "  'E' to exit the tool" << platform::endl;
  out << "  'D' to display the EULA in the browser" << platform::endl;

  platform::Keyboard& keyboard = platform.keyboard;
  ForgetEarlierPresses(keyboard, {kKeyE, kKeyA, kKeyD});
  if (KeyPressed(keyboard, kKeyE)) {
    return false;
  }
  // One page per press: a 'D' still down from the press that opened the page
  // (a press lasts longer than a pass) counts again only after a query has
  // seen it up.
  bool dStillDown = false;
  for (;;) {
    if (KeyPressed(keyboard, kKeyA)) {
      return true;
    }
    const std::int16_t d = keyboard.GetAsyncKeyState(kKeyD);
    if (dStillDown) {
      dStillDown = IsDown(d);
    } else if (d != 0) {
      ShowAgreement(platform);
      dStillDown = IsDown(d);
    }
    platform.clock.Sleep(kPollIntervalMs);
    if (KeyPressed(keyboard, kKeyE)) {
      return false;
    }
  }
}

void ExitKeyWait(platform::Platform& platform) {
  platform.console << platform::endl << "Press the 'E' key to exit the tool." << platform::endl;

  ForgetEarlierPresses(platform.keyboard, {kKeyE});
  while (!KeyPressed(platform.keyboard, kKeyE)) {
    platform.clock.Sleep(kPollIntervalMs);
  }
}

void DiscardTypedKeys(platform::Platform& platform) {
  platform::Keyboard& keyboard = platform.keyboard;
  if (!keyboard.StandardInputIsConsole()) {
    return;
  }
  // The key state changes as the key goes down, a moment before the console
  // queues the letter (later still through a terminal's pseudo-console):
  // flushing at once could leave the last letter behind. Once the keys are
  // up again their letters are queued; a key held longer is not waited for.
  for (std::uint32_t waited = 0; waited < kKeyReleaseWaitMs; waited += kPollIntervalMs) {
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
