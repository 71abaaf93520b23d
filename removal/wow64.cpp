#include "removal/wow64.h"

namespace removal {

bool RunsUnderWow64(platform::Process& process) { return process.IsWow64Process().value_or(false); }

RedirectionBypass::RedirectionBypass(platform::Platform& platform, Redirection redirection)
    : files_(platform.files) {
  // On 32-bit Windows there is no redirection to switch off.
  if (redirection == Redirection::kBypass && RunsUnderWow64(platform.process)) {
    Disable();
  }
}

RedirectionBypass::~RedirectionBypass() { Revert(); }

void RedirectionBypass::Disable() {
  // The saved value is opaque and may well be zero (Wine hands back zero), so
  // whether to switch back on is decided by the call's success, not by it.
  disabled_ = files_.DisableWow64FsRedirection(saved_).value_or(false);
}

void RedirectionBypass::Revert() {
  if (disabled_) {
    disabled_ = false;
    // If the revert entry were missing or failed, nothing more could be done.
    static_cast<void>(files_.RevertWow64FsRedirection(saved_));
  }
}

}  // namespace removal
