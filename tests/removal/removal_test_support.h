// What the removal tests share: a simulated machine, the run's context over
// it, and a reading of the telemetry it sent.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "removal/action_context.h"
#include "tests/sim/sim_machine.h"

namespace removal_test {

inline constexpr wchar_t kRunId[] = L"3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f";
inline constexpr wchar_t kDriverFile[] = L"C:\\Windows\\system32\\drivers\\tsld.sys";
inline constexpr wchar_t kDriverFile32[] = L"C:\\Windows\\SysWOW64\\drivers\\tsld.sys";
inline constexpr wchar_t kInstallDirectory[] = L"C:\\Program Files\\Orvane Tessel Web Protection";
inline constexpr wchar_t kStartMenuDirectory[] =
    L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Orvane Tessel Web Protection";
inline constexpr wchar_t kProductKey[] = L"SOFTWARE\\Orvane Systems\\Tessel";
inline constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Orvane Systems";
inline constexpr wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Tessel Web Protection";

// One "error" event as the server received it.
struct ErrorEvent {
  std::wstring label;
  std::wstring message;
  bool operator==(const ErrorEvent&) const = default;
};
void PrintTo(const ErrorEvent& event, std::ostream* out);

class RemovalTest : public ::testing::Test {
 protected:
  platform::Platform& platform() { return machine.platform(); }
  std::wstring Console() const { return machine.console.str(); }

  // Every request body sent, each checked to be a well-formed "error" event of
  // this run, in the order of the wire: product, version, error, language,
  // module, build, message, then the marker.
  std::vector<ErrorEvent> ErrorEvents() const;

  // Every handle that the actions opened has been closed, once.
  void ExpectAllHandlesClosed() const;

  // The index of the first entry in the call log that starts with `prefix`,
  // or the log's size when there is none.
  std::size_t FirstCall(const std::wstring& prefix) const;

  sim::SimMachine machine;
  std::int32_t errorCount = 0;
  std::wstring runId = kRunId;
  telemetry::TelemetrySender sender{machine.internet, machine.process};
  removal::ActionContext context{errorCount, runId, sender};
  removal::ServiceDeletionContext deletionContext{{errorCount, runId, sender}, false};
};

}  // namespace removal_test
