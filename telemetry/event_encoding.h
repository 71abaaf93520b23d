// Turns a TelemetryEvent into an application/x-www-form-urlencoded body.
#pragma once

#include <string>

#include "telemetry/telemetry_event.h"

namespace telemetry {

// Appended to every body after the encoded event.
inline constexpr wchar_t kBodyMarker[] = L"&ping";

// The fields in wire order, without the trailing marker. ASCII only.
std::wstring EncodeEvent(const TelemetryEvent& event);
// "&" + name, then "=" + value when value is not null; empty for a null name.
std::wstring EncodeField(const wchar_t* name, const wchar_t* value);
// UTF-8 of the text, unreserved characters as they are, every other byte as %XX.
std::wstring PercentEncode(const wchar_t* text);

}  // namespace telemetry
