// One synchronous HTTP POST of a form body to the telemetry server.
#pragma once

#include <cstdint>
#include <string>

#include "platform/internet.h"

namespace telemetry {

inline constexpr wchar_t kTelemetryServer[] = L"telemetry.orvane.com";
inline constexpr wchar_t kAgent[] = L"ZANT";
inline constexpr wchar_t kObjectName[] = L"entt";
inline constexpr std::uint32_t kTimeoutMilliseconds = 10000;

// Posts `body` (ASCII) to the telemetry server, port 80 or, when `secure`, 443,
// without following redirects. Returns the response's status, or 0 when none
// was obtained; `location` receives the Location header, or empty.
std::uint32_t PostForm(platform::Internet& internet, const std::wstring& body, bool secure,
                       std::wstring& location);

}  // namespace telemetry
