#include "run/restart_request.h"

#include <cstdint>
#include <optional>

namespace run {

bool OfferRestart(platform::Platform& platform, PromptKeys& keys) {
  if (!AskRestart(platform, keys)) {
    return false;
  }
  if (RequestRestart(platform)) {
    return true;
  }
  platform.console << platform::endl
                   << "ERROR: The restart request failed.  Please manually reboot to complete "
                      "the removal process."
                   << platform::endl;
  return false;
}

bool AskRestart(platform::Platform& platform, PromptKeys& keys) {
  keys.Begin({kKeyY, kKeyN});
  platform::Console& out = platform.console;
  out << platform::endl
      << "Can the computer be restarted to complete the removal procedure?" << platform::endl;
  out << "Press the 'Y' key to restart, otherwise the 'N' key to manually restart."
      << platform::endl;

  if (keys.Next() == kKeyY) {
    return true;
  }
  // No line end here: the exit-key prompt that comes next writes its own.
  out << platform::endl << platform::endl << kManualRestartLine << platform::flush;
  return false;
}

bool RequestRestart(platform::Platform& platform) {
  platform::Power& power = platform.power;
  const platform::UniqueTokenHandle token(
      power, power.OpenProcessToken(platform::kTokenAdjustPrivileges | platform::kTokenQuery));
  if (!token) {
    return false;
  }
  platform::PrivilegeId shutdown;
  // Without the privilege's identifier the adjustment would enable nothing.
  if (!power.LookupPrivilegeValue(kShutdownPrivilege, shutdown)) {
    return false;
  }
  const bool adjusted =
      power.AdjustTokenPrivilege(token.get(), shutdown, platform::kSePrivilegeEnabled);
  // The call succeeds also when it could not enable the privilege
  // (ERROR_NOT_ALL_ASSIGNED); only the last error tells.
  if (platform.errors.GetLastError() != 0 || !adjusted) {
    return false;
  }
  // ExitWindowsEx ends the caller's logon session, and restarts the machine
  // only from the interactive user's: from a remote shell, a service or
  // another account's elevation it may succeed and restart nothing.
  const std::optional<std::uint32_t> station = power.WindowStationFlags();
  const std::optional<platform::DesktopShellAccount> shell =
      platform.shell.FindDesktopShellAccount();
  const bool interactiveUser = station && (*station & platform::kWindowStationVisible) != 0 &&
                               (!shell || shell->isThisProcessUser);
  if (interactiveUser && power.ExitWindows(platform::kEwxReboot | platform::kEwxForceIfHung,
                                           platform::kShutdownReasonPlannedOsUpgrade)) {
    return true;
  }
  // The system restarts the whole machine, whoever asks; no grace period.
  return power.InitiateShutdown(0, platform::kShutdownRestart,
                                platform::kShutdownReasonPlannedOsUpgrade) ==
         platform::kErrorSuccess;
}

}  // namespace run
