// HTTP through WinINet, as the telemetry client asks for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/unique_handle.h"

namespace platform {

struct InternetTag;
// An HINTERNET: a root, connection or request handle.
using HInternet = InternetTag*;

inline constexpr std::uint32_t kInternetOpenTypePreconfig = 0;
inline constexpr std::uint32_t kInternetOptionConnectTimeout = 2;
inline constexpr std::uint32_t kInternetOptionReceiveTimeout = 6;
inline constexpr std::uint32_t kInternetOptionSendTimeout = 5;
inline constexpr std::uint16_t kInternetDefaultHttpPort = 80;
inline constexpr std::uint16_t kInternetDefaultHttpsPort = 443;
inline constexpr std::uint32_t kInternetServiceHttp = 3;
inline constexpr std::uint32_t kInternetFlagNoAutoRedirect = 0x00200000;
inline constexpr std::uint32_t kInternetFlagSecure = 0x00800000;
inline constexpr std::uint32_t kInternetFlagNoCookies = 0x00080000;
inline constexpr std::uint32_t kInternetFlagNoCacheWrite = 0x04000000;
inline constexpr std::uint32_t kHttpAddReqFlagAdd = 0x20000000;
inline constexpr std::uint32_t kHttpQueryLocation = 33;
// ERROR_INTERNET_FORCE_RETRY: WinINet needs the request sent again, as the
// next leg of a proxy's or server's authentication handshake.
inline constexpr std::uint32_t kErrorInternetForceRetry = 12032;

// Mirrors the WinINet calls. Handles are returned as they come from the
// platform: null or INVALID_HANDLE_VALUE mean that there is none.
class Internet {
 public:
  virtual ~Internet() = default;

  // InternetAttemptConnect(0); a Win32 error code.
  [[nodiscard]] virtual std::uint32_t AttemptConnect() = 0;
  // InternetOpenW(agent, accessType, nullptr, nullptr, 0).
  [[nodiscard]] virtual HInternet Open(const std::wstring& agent, std::uint32_t accessType) = 0;
  // InternetSetOptionW with a 32-bit value.
  [[nodiscard]] virtual bool SetOption(HInternet handle, std::uint32_t option,
                                       std::uint32_t value) = 0;
  // InternetConnectW(root, server, port, nullptr, nullptr, service, 0, context).
  [[nodiscard]] virtual HInternet Connect(HInternet root, const std::wstring& server,
                                          std::uint16_t port, std::uint32_t service) = 0;
  // HttpOpenRequestW(connection, verb, object, nullptr, nullptr, nullptr, flags, context).
  [[nodiscard]] virtual HInternet OpenRequest(HInternet connection, const std::wstring& verb,
                                              const std::wstring& object, std::uint32_t flags) = 0;
  // HttpAddRequestHeadersW(request, headers, -1, modifiers).
  [[nodiscard]] virtual bool AddRequestHeaders(HInternet request, const std::wstring& headers,
                                               std::uint32_t modifiers) = 0;
  // HttpSendRequestExW(request, nullptr, nullptr, 0, context).
  [[nodiscard]] virtual bool SendRequestEx(HInternet request) = 0;
  // InternetWriteFile.
  [[nodiscard]] virtual bool WriteFile(HInternet request, const std::uint8_t* data,
                                       std::uint32_t size, std::uint32_t& written) = 0;
  // HttpEndRequestW(request, nullptr, 0, 0): 0 when it succeeds, else the
  // error code (kErrorInternetForceRetry: send the request again).
  [[nodiscard]] virtual std::uint32_t EndRequest(HInternet request) = 0;
  // HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, ...).
  [[nodiscard]] virtual bool QueryStatusCode(HInternet request, std::uint32_t& status) = 0;
  // HttpQueryInfoA(request, infoLevel, buffer, &length, nullptr). On success
  // `length` holds the number of bytes stored, without a terminator.
  [[nodiscard]] virtual bool QueryInfoA(HInternet request, std::uint32_t infoLevel, char* buffer,
                                        std::uint32_t& length) = 0;
  // InternetReadFile.
  [[nodiscard]] virtual bool ReadFile(HInternet request, std::uint8_t* buffer, std::uint32_t size,
                                      std::uint32_t& read) = 0;
  [[nodiscard]] virtual bool CloseHandle(HInternet handle) = 0;
};

// A WinINet root, connection or request handle.
using UniqueInternetHandle =
    UniqueAny<HInternet, FacilityCloser<Internet, &Internet::CloseHandle>, NullOrAllBitsSetIsNone>;

}  // namespace platform
