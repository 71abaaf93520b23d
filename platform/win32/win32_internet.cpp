#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {
namespace {

// No status callback is registered, so the context value carries no meaning.
constexpr DWORD_PTR kNoContext = 0;

HINTERNET Native(HInternet handle) { return ToNative<HINTERNET>(handle); }
HInternet Opaque(HINTERNET handle) { return ToOpaque<HInternet>(handle); }

}  // namespace

std::uint32_t Win32Internet::AttemptConnect() { return InternetAttemptConnect(0); }

HInternet Win32Internet::Open(const std::wstring& agent, std::uint32_t accessType) {
  return Opaque(InternetOpenW(agent.c_str(), accessType, nullptr, nullptr, 0));
}

bool Win32Internet::SetOption(HInternet handle, std::uint32_t option, std::uint32_t value) {
  DWORD number = value;
  return InternetSetOptionW(Native(handle), option, &number, sizeof(number)) != FALSE;
}

HInternet Win32Internet::Connect(HInternet root, const std::wstring& server, std::uint16_t port,
                                 std::uint32_t service) {
  return Opaque(InternetConnectW(Native(root), server.c_str(), port, nullptr, nullptr, service, 0,
                                 kNoContext));
}

HInternet Win32Internet::OpenRequest(HInternet connection, const std::wstring& verb,
                                     const std::wstring& object, std::uint32_t flags) {
  return Opaque(HttpOpenRequestW(Native(connection), verb.c_str(), object.c_str(), nullptr, nullptr,
                                 nullptr, flags, kNoContext));
}

bool Win32Internet::AddRequestHeaders(HInternet request, const std::wstring& headers,
                                      std::uint32_t modifiers) {
  // A length of -1 tells WinINet that the text ends at its NUL.
  constexpr auto kUpToTerminator = static_cast<DWORD>(-1);
  return HttpAddRequestHeadersW(Native(request), headers.c_str(), kUpToTerminator, modifiers) !=
         FALSE;
}

bool Win32Internet::SendRequestEx(HInternet request) {
  return HttpSendRequestExW(Native(request), nullptr, nullptr, 0, kNoContext) != FALSE;
}

bool Win32Internet::WriteFile(HInternet request, const std::uint8_t* data, std::uint32_t size,
                              std::uint32_t& written) {
  DWORD count = 0;
  const BOOL ok = InternetWriteFile(Native(request), data, size, &count);
  written = count;
  return ok != FALSE;
}

bool Win32Internet::EndRequest(HInternet request) {
  return HttpEndRequestW(Native(request), nullptr, 0, 0) != FALSE;
}

bool Win32Internet::QueryStatusCode(HInternet request, std::uint32_t& status) {
  DWORD number = 0;
  DWORD length = sizeof(number);
  DWORD index = 0;
  if (!HttpQueryInfoW(Native(request), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &number,
                      &length, &index)) {
    return false;
  }
  status = number;
  return true;
}

bool Win32Internet::QueryInfoA(HInternet request, std::uint32_t infoLevel, char* buffer,
                               std::uint32_t& length) {
  DWORD size = length;
  const BOOL ok = HttpQueryInfoA(Native(request), infoLevel, buffer, &size, nullptr);
  length = size;
  return ok != FALSE;
}

bool Win32Internet::ReadFile(HInternet request, std::uint8_t* buffer, std::uint32_t size,
                             std::uint32_t& read) {
  DWORD count = 0;
  const BOOL ok = InternetReadFile(Native(request), buffer, size, &count);
  read = count;
  return ok != FALSE;
}

bool Win32Internet::CloseHandle(HInternet handle) {
  return InternetCloseHandle(Native(handle)) != FALSE;
}

}  // namespace platform::win32
