// What one telemetry message says. The fixed fields are the same in every
// message of a run but module, error and build; the custom fields keep the
// order they were added in, which is their order on the wire.
#pragma once

#include <string>
#include <vector>

#include "tessel-version.h"

namespace telemetry {

inline constexpr wchar_t kProduct[] = L"tessel_remove";
inline constexpr wchar_t kLanguage[] = L"en";

struct CustomField {
  std::wstring name;
  std::wstring value;  // empty when hasValue is false
  bool hasValue = false;
};

class TelemetryEvent {
 public:
  // Fills module, error and build; a null argument gives an empty field.
  TelemetryEvent(const wchar_t* kind, const wchar_t* label, const wchar_t* runId);

  // Adds a custom field, or replaces the value of the one with the same name in
  // place. Refuses (false) a null name and the reserved names. A null value
  // gives a field that is sent as its name alone.
  bool AddCustomField(const wchar_t* name, const wchar_t* value);

  [[nodiscard]] const std::vector<CustomField>& customFields() const { return customFields_; }

  std::wstring product = kProduct;
  std::wstring version = product_version::kText;
  std::wstring language = kLanguage;
  std::wstring module;
  std::wstring error;
  std::wstring build;

 private:
  std::vector<CustomField> customFields_;
};

}  // namespace telemetry
