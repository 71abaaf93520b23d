#include "run/removal_run.h"

#include <cstdint>
#include <string>

#include "removal/action_context.h"
#include "removal/path_removal.h"
#include "removal/registry_removal.h"
#include "removal/service_deletion.h"
#include "removal/service_stop.h"
#include "run/console_prompts.h"
#include "run/restart_request.h"
#include "telemetry/telemetry_event.h"
#include "telemetry/telemetry_sender.h"

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

void SendRunEvent(platform::Platform& platform, const wchar_t* module, const std::wstring& runId) {
  const telemetry::TelemetryEvent event(module, L"", runId.c_str());
  // Delivery is best effort; the run goes on the same either way.
  static_cast<void>(telemetry::SendEvent(platform.internet, event));
}

void RemoveServiceIfPresent(platform::Platform& platform, const wchar_t* name,
                            removal::ServiceDeletionContext& context, bool rebootOnDelete) {
  if (removal::ServiceExists(platform, name, true)) {
    removal::RemoveService(platform, name, context, rebootOnDelete);
  }
}

// The run from the banner to its exit code.
int RunToExitCode(platform::Platform& platform) {
  platform::Console& out = platform.console;
  out << platform::endl
      << "tessel-cleanup v" << kProgramVersion << platform::endl
      << platform::endl;

  const std::wstring runId = platform.identifiers.CreateUuidString();
  SendRunEvent(platform, L"start", runId);

  if (!AgreementPrompt(platform)) {
    return kExitDeclined;
  }

  std::int32_t errorCount = 0;
  removal::ActionContext context{errorCount, runId};

  if (!removal::StopFilterService(platform, context)) {
    SendRunEvent(platform, L"non-admin-exit", runId);
    TelemetryWait(platform);
    out << platform::endl
        << "Unable to continue as not able to stop the service " << removal::kFilterServiceName
        << "." << platform::endl;
    ExitKeyWait(platform);
    return kExitServiceNotStopped;
  }

  // Only the two service deletions may set the reboot flag.
  removal::ServiceDeletionContext deletion{{errorCount, runId}, false};
  RemoveServiceIfPresent(platform, removal::kFilterServiceName, deletion, false);
  RemoveServiceIfPresent(platform, removal::kDriverServiceName, deletion, true);

  removal::DeletePath(platform, L"File", kDriverFile, true, context);
  removal::DeletePath(platform, L"Directory", kInstallDirectory, false, context);
  removal::DeletePath(platform, L"Directory", kStartMenuDirectory, false, context);

  // The product key first: the vendor key above it goes only once it is empty.
  removal::DeleteRegistryKey(platform, kProductKey, context, true);
  removal::DeleteRegistryKey(platform, kVendorKey, context, false);
  removal::DeleteRegistryKey(platform, kUninstallKey, context, false);

  const bool rebootNeeded = deletion.rebootNeeded;
  telemetry::SendDoneEvent(platform.internet, errorCount, runId, rebootNeeded);
  TelemetryWait(platform);

  // The done event already tells whether a restart was pending; a declined or
  // failed restart ends like a run that needed none.
  if (rebootNeeded && OfferRestart(platform)) {
    return kExitRestarting;
  }
  ExitKeyWait(platform);
  return kExitCompleted;
}

}  // namespace

int RemovalRun(platform::Platform& platform) {
  const int exitCode = RunToExitCode(platform);
  // Every way out passes here, the restart included: keys left in the
  // console's input would show up at the prompt of the shell that started us.
  DiscardTypedKeys(platform);
  return exitCode;
}

}  // namespace run
