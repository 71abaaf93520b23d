// The HTTP POST of one telemetry body, in the form the collector expects:
// agent "ZANT", POST to "entt", a form-encoded body of exactly Content-Length
// bytes, no redirect followed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/internet.h"

namespace telemetry {

inline constexpr wchar_t kTelemetryServer[] = L"telemetry.orvane.com";
inline constexpr wchar_t kAgent[] = L"ZANT";
inline constexpr wchar_t kObjectName[] = L"entt";
inline constexpr std::uint32_t kTimeoutMilliseconds = 10000;
inline constexpr wchar_t kVerb[] = L"POST";
// The Location header is read into this many bytes, the last kept for the
// terminator.
inline constexpr std::uint32_t kLocationBufferSize = 32768;
// At most this many bytes of the response are read and thrown away before the
// handles close: an answer to telemetry is small, and a server that goes on
// sending must not hold the events behind.
inline constexpr std::uint32_t kMaxDrainBytes = 65536;
// How many times one request is sent when WinINet asks for it again
// (kErrorInternetForceRetry): the legs of an NTLM handshake with a proxy
// take three.
inline constexpr std::uint32_t kMaxSends = 4;
// Posts `body` (ASCII) on the calling thread: opens the root handle, the
// connection and the request, adds the headers, writes the body, reads the
// status and the Location header, drains the response and closes all again.
// The request is sent again, body and all, as often as WinINet asks for it
// (up to kMaxSends times in all) while a proxy's authentication goes on.
// A redirect is an answer, not followed: the collector has taken the body.
// The response's status, 0 when the exchange ended without one; `location`
// receives the Location header, or empty. Port 443 when `secure`, else 80.
// How long it takes is up to WinINet: the sender runs it on a worker thread
// that it can give up on.
std::uint32_t PostForm(platform::Internet& internet, const std::wstring& body, bool secure,
                       std::wstring& location);

// PostForm's first steps. Each gives an empty holder when the holder it is
// given holds no valid handle.

// InternetConnectW to `server`:`port` for HTTP on an open root handle.
platform::UniqueInternetHandle OpenConnection(platform::Internet& internet,
                                              const platform::UniqueInternetHandle& root,
                                              const std::wstring& server, std::uint16_t port);
// A POST request for the object "entt" that does not follow redirects.
platform::UniqueInternetHandle OpenRequest(platform::Internet& internet,
                                           const platform::UniqueInternetHandle& connection,
                                           bool secure);
}  // namespace telemetry
