#include "removal/registry_removal.h"

#include <cstdint>
#include <optional>

#include "platform/registry.h"
#include "removal/failure_report.h"
#include "removal/system_errors.h"
#include "removal/wow64.h"

namespace removal {
namespace {

// Deletes the key; the registry status (0 on success).
std::int32_t DeleteKey(platform::Platform& platform, const std::wstring& keyPath) {
  if (!RunsUnderWow64(platform.process)) {
    return platform.registry.DeleteLocalMachineKey(keyPath);
  }
  // Under WOW64 RegDeleteKeyW would address the 32-bit view, which is never
  // touched. Without the Ex entry the 64-bit key cannot be reached, so the
  // deletion fails as if the procedure were not found.
  const std::optional<std::int32_t> status = platform.registry.DeleteLocalMachineKeyEx(
      keyPath, platform::kKeyWow64_64Key | platform::kKeyCreateSubKey);
  return status.value_or(static_cast<std::int32_t>(kErrorProcNotFound));
}

}  // namespace

bool RegistryKeyExists(platform::Platform& platform, const std::wstring& keyPath) {
  const std::uint32_t access = RunsUnderWow64(platform.process)
                                   ? platform::kKeyRead | platform::kKeyWow64_64Key
                                   : platform::kKeyRead;
  platform::HKey opened = nullptr;
  const std::int32_t status = platform.registry.OpenLocalMachineKey(keyPath, access, opened);
  if (status == 0) {
    const platform::UniqueRegistryKey key(platform.registry, opened);
    return true;
  }
  // A key that refuses to be read (as a product guarding itself does) is
  // there all the same: only "not found" means absent.
  return static_cast<std::uint32_t>(status) != kErrorFileNotFound;
}

void DeleteRegistryKey(platform::Platform& platform, const std::wstring& keyPath,
                       ActionContext& context, KeyLines lines) {
  const bool everyOutcome = lines == KeyLines::kEveryOutcome;
  platform::Console& out = platform.console;
  if (!RegistryKeyExists(platform, keyPath)) {
    if (everyOutcome) {
      out << "Registry key is not present: " << keyPath << platform::endl;
    }
    return;
  }
  const std::int32_t status = DeleteKey(platform, keyPath);
  if (status == 0) {
    if (everyOutcome) {
      out << "Registry key deleted: " << keyPath << platform::endl;
    }
    return;
  }
  out << platform::endl << "ERROR deleting key: " << keyPath << platform::endl;
  ReportFailure(platform, context, L"RegDelete", static_cast<std::uint32_t>(status), keyPath);
}

}  // namespace removal
