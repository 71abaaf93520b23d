#include "telemetry/http_post.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/ascii.h"
#include "platform/utf8.h"
#include "platform/write_whole.h"
#include "telemetry/event_encoding.h"

namespace telemetry {
namespace {

platform::UniqueInternetHandle OpenRoot(platform::Internet& internet) {
  // Without a usable network connection there is no point in opening
  // anything: the send would only wait for its time-outs.
  if (internet.AttemptConnect() != 0) return {};
  return platform::UniqueInternetHandle(
      internet, internet.Open(kAgent, platform::kInternetOpenTypePreconfig));
}

void SetTimeouts(platform::Internet& internet, const platform::UniqueInternetHandle& root) {
  if (!root) return;
  // A time-out that cannot be set leaves WinINet's own; the sender's
  // deadline bounds the exchange all the same.
  for (const std::uint32_t option :
       {platform::kInternetOptionConnectTimeout, platform::kInternetOptionReceiveTimeout,
        platform::kInternetOptionSendTimeout}) {
    static_cast<void>(internet.SetOption(root.get(), option, kTimeoutMilliseconds));
  }
}

// Adds `line` with its CR LF; a header that cannot be added is left out.
void AddHeader(platform::Internet& internet, platform::HInternet request,
               const std::wstring& line) {
  static_cast<void>(
      internet.AddRequestHeaders(request, line + L"\r\n", platform::kHttpAddReqFlagAdd));
}

// Writes the low byte of each unit of `body` (ASCII) until all is written or
// a write fails.
void WriteBody(platform::Internet& internet, platform::HInternet request,
               const std::wstring& body) {
  // The body is ASCII, so the low byte of each unit is the character.
  std::vector<std::uint8_t> bytes(body.size());
  std::transform(body.begin(), body.end(), bytes.begin(),
                 [](wchar_t unit) { return static_cast<std::uint8_t>(unit & 0xFF); });
  // InternetWriteFile may take less than it is given; the server expects
  // exactly Content-Length bytes.
  static_cast<void>(platform::WriteWhole(
      bytes.data(), bytes.size(), std::numeric_limits<std::uint32_t>::max(),
      [&internet, request](const std::uint8_t* data, std::size_t count) -> std::size_t {
        std::uint32_t written = 0;
        return internet.WriteFile(request, data, static_cast<std::uint32_t>(count), written)
                   ? written
                   : 0;
      }));
}

// The response's Location header, decoded from UTF-8 up to its first zero
// byte; empty when there is none.
std::wstring QueryLocation(platform::Internet& internet, platform::HInternet request) {
  std::vector<char> buffer(kLocationBufferSize, '\0');
  std::uint32_t length = kLocationBufferSize - 1;
  if (!internet.QueryInfoA(request, platform::kHttpQueryLocation, buffer.data(), length)) {
    return {};
  }
  // The platform's length is trusted only as far as the buffer reaches.
  length = std::min(length, kLocationBufferSize - 1);
  buffer[length] = '\0';
  // Like the platform's conversion of a zero-terminated text, stop at the
  // first zero byte.
  return platform::DecodeUtf8(std::string_view(buffer.data()));
}

// Reads the response to its end, one byte at a time, and throws it away, so
// that the exchange is complete before the handles close; past the limit the
// close simply drops the rest.
void DrainResponse(platform::Internet& internet, platform::HInternet request) {
  for (std::uint32_t drained = 0; drained < kMaxDrainBytes; ++drained) {
    std::uint8_t byte = 0;
    std::uint32_t read = 0;
    if (!internet.ReadFile(request, &byte, 1, read) || read == 0) break;
  }
}

// Steps from the headers to the drained response on an open request. Returns
// the status, 0 when the send failed or no status came back.
std::uint32_t Exchange(platform::Internet& internet, platform::HInternet request,
                       const std::wstring& body, std::wstring& location) {
  AddHeader(internet, request, L"Connection: close");
  AddHeader(internet, request, L"Content-Type: application/x-www-form-urlencoded");
  AddHeader(internet, request,
            L"Content-Length: " + platform::FormatInt64(static_cast<std::int64_t>(body.size())));
  // A proxy or server that authenticates by a handshake (NTLM, Negotiate)
  // answers every leg but the last with 407 or 401, and WinINet then asks,
  // through the end of the request, for the same request to be sent again
  // with its body, adding the next leg's credentials itself. The number of
  // sends is bounded; the exchange's deadline ends them sooner, since a
  // cancelled send fails at once. Any other failed end shows in the status
  // query that follows.
  for (std::uint32_t sends = 1;; ++sends) {
    if (!internet.SendRequestEx(request)) return 0;
    WriteBody(internet, request, body);
    if (internet.EndRequest(request) != platform::kErrorInternetForceRetry || sends == kMaxSends) {
      break;
    }
  }
  location = QueryLocation(internet, request);
  std::uint32_t status = 0;
  if (!internet.QueryStatusCode(request, status)) status = 0;
  DrainResponse(internet, request);
  return status;
}

}  // namespace

platform::UniqueInternetHandle OpenConnection(platform::Internet& internet,
                                              const platform::UniqueInternetHandle& root,
                                              const std::wstring& server, std::uint16_t port) {
  if (!root) return {};
  return platform::UniqueInternetHandle(
      internet, internet.Connect(root.get(), server, port, platform::kInternetServiceHttp));
}

platform::UniqueInternetHandle OpenRequest(platform::Internet& internet,
                                           const platform::UniqueInternetHandle& connection,
                                           bool secure) {
  if (!connection) return {};
  // Redirects are never followed: a 301 or 302 is the answer itself. The
  // user's cookies for the host are neither sent nor stored, and the answer
  // stays out of the user's cache.
  std::uint32_t flags = platform::kInternetFlagNoAutoRedirect | platform::kInternetFlagNoCookies |
                        platform::kInternetFlagNoCacheWrite;
  if (secure) flags |= platform::kInternetFlagSecure;
  return platform::UniqueInternetHandle(
      internet, internet.OpenRequest(connection.get(), kVerb, kObjectName, flags));
}

std::uint32_t PostForm(platform::Internet& internet, const std::wstring& body, bool secure,
                       std::wstring& location) {
  std::uint32_t status = 0;
  std::wstring received;
  platform::UniqueInternetHandle root = OpenRoot(internet);
  SetTimeouts(internet, root);
  {
    // Declared in opening order, so they close request first, then
    // connection, as this scope ends; the root closes last, on return.
    platform::UniqueInternetHandle connection = OpenConnection(
        internet, root, kTelemetryServer,
        secure ? platform::kInternetDefaultHttpsPort : platform::kInternetDefaultHttpPort);
    platform::UniqueInternetHandle request = OpenRequest(internet, connection, secure);
    if (request) status = Exchange(internet, request.get(), body, received);
  }
  location = received;
  return status;
}

}  // namespace telemetry
