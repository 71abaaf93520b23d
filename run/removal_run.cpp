#include "run/removal_run.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "removal/action_context.h"
#include "removal/path_removal.h"
#include "removal/registry_removal.h"
#include "removal/service_deletion.h"
#include "removal/service_stop.h"
#include "run/agreement_display.h"
#include "run/console_prompts.h"
#include "run/restart_request.h"
#include "telemetry/telemetry_event.h"
#include "telemetry/telemetry_sender.h"
#include "tessel-version.h"

namespace run {

namespace {

// What the product leaves behind. Fixed: nothing is searched for.
constexpr wchar_t kDriverFile[] = L"C:\\Windows\\system32\\drivers\\tsld.sys";
constexpr wchar_t kInstallDirectory[] = L"C:\\Program Files\\Orvane Tessel Web Protection";
constexpr wchar_t kStartMenuDirectory[] =
    L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Orvane Tessel Web Protection";
constexpr wchar_t kProductKey[] = L"SOFTWARE\\Orvane Systems\\Tessel";
constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Orvane Systems";
constexpr wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Tessel Web Protection";

// How long the end of the run may take after its last line, whatever the
// sender is doing: the wait for it and the wait for the keys to come up share it.
constexpr std::uint32_t kExitWaitMs = 2000;
// How often the end of the run looks whether the sender is done.
constexpr std::uint32_t kSenderCheckMs = 100;

void SendRunEvent(telemetry::TelemetrySender& sender, const wchar_t* module,
                  const std::wstring& runId) {
  sender.Send(telemetry::TelemetryEvent(module, L"", runId.c_str()));
}

// Gives the sender the time it takes to finish, at most `budgetMs`; how long
// it waited.
std::uint32_t WaitForSender(platform::Platform& platform, const telemetry::TelemetrySender& sender,
                            std::uint32_t budgetMs) {
  std::uint32_t waited = 0;
  for (; waited < budgetMs && !sender.Idle(); waited += kSenderCheckMs) {
    platform.clock.Sleep(kSenderCheckMs);
  }
  return waited;
}

void RemoveServiceIfPresent(platform::Platform& platform, const wchar_t* name,
                            removal::ServiceDeletionContext& context,
                            removal::RestartAfterDeletion restart) {
  if (removal::ServiceExists(platform, name, removal::Absence::kReported)) {
    removal::RemoveService(platform, name, context, restart);
  }
}

// The run from the banner to its exit code.
int RunToExitCode(platform::Platform& platform, telemetry::TelemetrySender& sender,
                  PromptKeys& keys, AgreementPage& page) {
  platform::Console& out = platform.console;
  out << platform::endl
      << "tessel-cleanup v" << product_version::kText << platform::endl
      << platform::endl;

  const std::wstring runId = platform.identifiers.CreateUuidString();
  // The prompt follows at once: the event goes out while the user reads.
  SendRunEvent(sender, L"start", runId);

  if (!AgreementPrompt(platform, keys, page)) {
    return kExitDeclined;
  }

  std::int32_t errorCount = 0;
  removal::ActionContext context{errorCount, runId, sender};

  if (!removal::StopFilterService(platform, context)) {
    SendRunEvent(sender, L"non-admin-exit", runId);
    TelemetryWait(platform);
    out << platform::endl
        << "Unable to continue as not able to stop the service " << removal::kFilterServiceName
        << "." << platform::endl;
    ExitKeyWait(platform, keys);
    return kExitServiceNotStopped;
  }

  // Only the two service deletions may set the reboot flag.
  removal::ServiceDeletionContext deletion{{errorCount, runId, sender}, false};
  using removal::ItemKind;
  using removal::KeyLines;
  using removal::Redirection;
  using removal::RestartAfterDeletion;
  RemoveServiceIfPresent(platform, removal::kFilterServiceName, deletion,
                         RestartAfterDeletion::kNotNeeded);
  // The driver stays loaded until the next boot.
  RemoveServiceIfPresent(platform, removal::kDriverServiceName, deletion,
                         RestartAfterDeletion::kNeeded);
  // From here on, a run ended by Ctrl+C or a closed window says what is left
  // to do.
  if (deletion.rebootNeeded) platform.process.SetConsoleControlText(kManualRestartFarewell);

  // The driver file lives in the native system directory, which a 32-bit
  // process sees only with redirection off.
  removal::DeletePath(platform, ItemKind::kFile, kDriverFile, Redirection::kBypass, context);
  removal::DeletePath(platform, ItemKind::kDirectory, kInstallDirectory, Redirection::kKeep,
                      context);
  removal::DeletePath(platform, ItemKind::kDirectory, kStartMenuDirectory, Redirection::kKeep,
                      context);

  // The product key first: the vendor key above it goes only once it is empty.
  removal::DeleteRegistryKey(platform, kProductKey, context, KeyLines::kFailuresOnly);
  removal::DeleteRegistryKey(platform, kVendorKey, context, KeyLines::kEveryOutcome);
  removal::DeleteRegistryKey(platform, kUninstallKey, context, KeyLines::kEveryOutcome);

  const bool rebootNeeded = deletion.rebootNeeded;
  sender.Send(telemetry::DoneEvent(errorCount, runId, rebootNeeded));
  // The sender finishes what is queued meanwhile.
  TelemetryWait(platform);

  // The done event already tells whether a restart was pending; a declined or
  // failed restart ends like a run that needed none.
  if (rebootNeeded && OfferRestart(platform, keys)) {
    return kExitRestarting;
  }
  ExitKeyWait(platform, keys);
  return kExitCompleted;
}

}  // namespace

int RemovalRun(platform::Platform& platform) {
  // Ctrl+C or a closed window ends the process as the run's own end does.
  static_cast<void>(platform.process.EndOnConsoleControl());
  telemetry::TelemetrySender sender(platform.internet, platform.process);
  // Holds the agreement page until the process ends.
  AgreementPage page(platform);
  int exitCode = 0;
  {
    const std::unique_ptr<PromptKeys> keys = OpenPromptKeys(platform);
    exitCode = RunToExitCode(platform, sender, *keys, page);
    // Every way out passes here, the restart included. The start event of a
    // run declined at once may still be on its way; keys left in the console's
    // input would show up at the prompt of the shell that started us.
    const std::uint32_t waited = WaitForSender(platform, sender, kExitWaitMs);
    keys->DiscardTyped(std::min(kKeyReleaseWaitMs, kExitWaitMs - waited));
  }
  // The console holds nothing back: every line is out by now. Whatever the sender is doing: a
  // thread left inside WinINet must not hold or crash the end, as a return through ExitProcess
  // could.
  platform.process.Terminate(exitCode);
  return exitCode;
}

}  // namespace run
