#include "run/console_prompts.h"

#include "run/agreement_display.h"

namespace run {

bool AgreementPrompt(platform::Platform& platform, PromptKeys& keys, AgreementPage& page) {
  // Keys typed before the prompt shows are dropped before it shows: one
  // pressed the moment it appears counts.
  keys.Begin({kKeyE, kKeyA, kKeyD});
  platform::Console& out = platform.console;
  out << platform::endl << "Press one of the following keys:" << platform::endl;
  out << "  'A' to accept the EULA" << platform::endl;
  out << "  'E' to exit the tool" << platform::endl;
  out << "  'D' to display the EULA in the browser" << platform::endl;

  for (int key = keys.Next(); key != kKeyA; key = keys.Next()) {
    if (key == kKeyE) {
      return false;
    }
    page.Show();
  }
  return true;
}

void ExitKeyWait(platform::Platform& platform, PromptKeys& keys) {
  keys.Begin({kKeyE});
  platform.console << platform::endl << "Press the 'E' key to exit the tool." << platform::endl;
  static_cast<void>(keys.Next());
}

void TelemetryWait(platform::Platform& platform) {
  platform::Console& out = platform.console;
  // The console writer holds nothing back: the dots show one by one, as
  // they are written.
  out << "Sending telemetry ";
  for (int step = 0; step < kTelemetryWaitSteps; ++step) {
    platform.clock.Sleep(kTelemetryWaitStepMs);
    out << ".";
  }
  out << platform::endl;
}

}  // namespace run
