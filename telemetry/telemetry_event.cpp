#include "telemetry/telemetry_event.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace telemetry {
namespace {

// Names the encoder writes itself, plus "debug", and "ping", the body's end
// marker: a custom field with one of them would make the body ambiguous.
constexpr std::array<std::wstring_view, 9> kReservedNames = {
    L"", L"product", L"version", L"error", L"module", L"build", L"language", L"debug", L"ping"};

std::wstring TextOrEmpty(const wchar_t* text) { return text == nullptr ? std::wstring() : text; }

}  // namespace

TelemetryEvent::TelemetryEvent(const wchar_t* kind, const wchar_t* label, const wchar_t* runId)
    : module(TextOrEmpty(kind)), error(TextOrEmpty(label)), build(TextOrEmpty(runId)) {}

bool TelemetryEvent::AddCustomField(const wchar_t* name, const wchar_t* value) {
  if (name == nullptr) return false;
  const std::wstring_view wanted(name);
  if (std::find(kReservedNames.begin(), kReservedNames.end(), wanted) != kReservedNames.end()) {
    return false;
  }
  const auto existing =
      std::find_if(customFields_.begin(), customFields_.end(),
                   [&](const CustomField& field) { return field.name == wanted; });
  CustomField& field = existing != customFields_.end()
                           ? *existing
                           : customFields_.emplace_back(CustomField{name, {}, false});
  field.value = TextOrEmpty(value);
  field.hasValue = value != nullptr;
  return true;
}

}  // namespace telemetry
