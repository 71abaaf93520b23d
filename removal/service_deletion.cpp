#include "removal/service_deletion.h"

#include "removal/failure_report.h"
#include "removal/service_stop.h"
#include "removal/system_errors.h"

namespace removal {

void RemoveService(platform::Platform& platform, const std::wstring& name,
                   ServiceDeletionContext& context, RestartAfterDeletion restart) {
  platform::Console& out = platform.console;
  const OpenedService opened = OpenServiceWithAccess(platform, name, kDeleteAccess);
  if (!opened.service) {
    out << "ERROR deleting service: " << name << ". This requires Administrator access."
        << platform::endl;
    ReportFailure(platform, context, L"SvcDelete", opened.error, L"Need Administrator access");
    return;
  }
  if (platform.services.DeleteService(opened.service.get())) {
    // The driver stays loaded until the next boot, so its removal completes
    // only then.
    if (restart == RestartAfterDeletion::kNeeded) {
      context.rebootNeeded = true;
    }
    out << "Service deleted: " << name << platform::endl;
    return;
  }
  const std::uint32_t error = platform.errors.GetLastError();
  if (error == kErrorServiceMarkedForDelete) {
    // An earlier removal got this far; the service goes at the next boot.
    context.rebootNeeded = true;
    out << "Service marked for deletion: " << name << platform::endl;
    return;
  }
  out << "ERROR deleting service: " << name << ". System error: " << error << platform::endl;
  ReportFailure(platform, context, L"SvcDelete", error, name);
}

}  // namespace removal
