#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {
namespace {

// WinINet hands this value only to a status callback, and the client sets none.
constexpr DWORD_PTR kNoContext = 0;

HINTERNET Native(HInternet handle) { return ToNative<HINTERNET>(handle); }
HInternet Opaque(HINTERNET handle) { return ToOpaque<HInternet>(handle); }

// The WinINet entry points. WinINet is no KnownDLL: imported, it would be
// searched for beside the exe first, where anyone who can write to a
// downloads folder could place one that runs with the tool's rights.
struct WinInet {
  bool loaded = false;  // every entry below was found
  decltype(&InternetAttemptConnect) attemptConnect = nullptr;
  decltype(&InternetOpenW) open = nullptr;
  decltype(&InternetSetOptionW) setOption = nullptr;
  decltype(&InternetConnectW) connect = nullptr;
  decltype(&HttpOpenRequestW) openRequest = nullptr;
  decltype(&HttpAddRequestHeadersW) addRequestHeaders = nullptr;
  decltype(&HttpSendRequestExW) sendRequestEx = nullptr;
  decltype(&InternetWriteFile) writeFile = nullptr;
  decltype(&HttpEndRequestW) endRequest = nullptr;
  decltype(&HttpQueryInfoW) queryInfoW = nullptr;
  decltype(&HttpQueryInfoA) queryInfoA = nullptr;
  decltype(&InternetReadFile) readFile = nullptr;
  decltype(&InternetCloseHandle) closeHandle = nullptr;
};

template <typename Function>
bool Find(HMODULE module, const char* name, Function& entry) {
  entry = EntryOf<Function>(module, name);
  return entry != nullptr;
}

// From the system directory only, for WinINet and the DLLs it loads in turn.
// All or nothing: Windows 7 without KB2533623 refuses the flag, which leaves
// telemetry unsent there rather than loaded from an unsafe place.
WinInet Load() {
  const HMODULE module = LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  WinInet api;
  api.loaded = module != nullptr && Find(module, "InternetAttemptConnect", api.attemptConnect) &&
               Find(module, "InternetOpenW", api.open) &&
               Find(module, "InternetSetOptionW", api.setOption) &&
               Find(module, "InternetConnectW", api.connect) &&
               Find(module, "HttpOpenRequestW", api.openRequest) &&
               Find(module, "HttpAddRequestHeadersW", api.addRequestHeaders) &&
               Find(module, "HttpSendRequestExW", api.sendRequestEx) &&
               Find(module, "InternetWriteFile", api.writeFile) &&
               Find(module, "HttpEndRequestW", api.endRequest) &&
               Find(module, "HttpQueryInfoW", api.queryInfoW) &&
               Find(module, "HttpQueryInfoA", api.queryInfoA) &&
               Find(module, "InternetReadFile", api.readFile) &&
               Find(module, "InternetCloseHandle", api.closeHandle);
  return api;
}

// Loaded once and never unloaded: an exchange given up on may still be
// inside the DLL when the run ends.
const WinInet& Api() {
  static const WinInet api = Load();
  return api;
}

}  // namespace

Win32Internet::Win32Internet() { static_cast<void>(Api()); }

// The one check: without WinINet the machine is as good as offline, and the
// client opens nothing (so calls nothing else) after this fails.
std::uint32_t Win32Internet::AttemptConnect() {
  if (!Api().loaded) return ERROR_MOD_NOT_FOUND;
  return Api().attemptConnect(0);
}

HInternet Win32Internet::Open(const std::wstring& agent, std::uint32_t accessType) {
  return Opaque(Api().open(agent.c_str(), accessType, nullptr, nullptr, 0));
}

bool Win32Internet::SetOption(HInternet handle, std::uint32_t option, std::uint32_t value) {
  DWORD number = value;
  return Api().setOption(Native(handle), option, &number, sizeof(number)) != FALSE;
}

HInternet Win32Internet::Connect(HInternet root, const std::wstring& server, std::uint16_t port,
                                 std::uint32_t service) {
  return Opaque(
      Api().connect(Native(root), server.c_str(), port, nullptr, nullptr, service, 0, kNoContext));
}

HInternet Win32Internet::OpenRequest(HInternet connection, const std::wstring& verb,
                                     const std::wstring& object, std::uint32_t flags) {
  return Opaque(Api().openRequest(Native(connection), verb.c_str(), object.c_str(), nullptr,
                                  nullptr, nullptr, flags, kNoContext));
}

bool Win32Internet::AddRequestHeaders(HInternet request, const std::wstring& headers,
                                      std::uint32_t modifiers) {
  // A length of -1 tells WinINet that the text ends at its NUL.
  constexpr auto kUpToTerminator = static_cast<DWORD>(-1);
  return Api().addRequestHeaders(Native(request), headers.c_str(), kUpToTerminator, modifiers) !=
         FALSE;
}

bool Win32Internet::SendRequestEx(HInternet request) {
  return Api().sendRequestEx(Native(request), nullptr, nullptr, 0, kNoContext) != FALSE;
}

bool Win32Internet::WriteFile(HInternet request, const std::uint8_t* data, std::uint32_t size,
                              std::uint32_t& written) {
  DWORD count = 0;
  const BOOL ok = Api().writeFile(Native(request), data, size, &count);
  written = count;
  return ok != FALSE;
}

std::uint32_t Win32Internet::EndRequest(HInternet request) {
  if (Api().endRequest(Native(request), nullptr, 0, 0) != FALSE) return ERROR_SUCCESS;
  return ::GetLastError();
}

bool Win32Internet::QueryStatusCode(HInternet request, std::uint32_t& status) {
  DWORD number = 0;
  DWORD length = sizeof(number);
  DWORD index = 0;
  if (!Api().queryInfoW(Native(request), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &number,
                        &length, &index)) {
    return false;
  }
  status = number;
  return true;
}

bool Win32Internet::QueryInfoA(HInternet request, std::uint32_t infoLevel, char* buffer,
                               std::uint32_t& length) {
  DWORD size = length;
  const BOOL ok = Api().queryInfoA(Native(request), infoLevel, buffer, &size, nullptr);
  length = size;
  return ok != FALSE;
}

bool Win32Internet::ReadFile(HInternet request, std::uint8_t* buffer, std::uint32_t size,
                             std::uint32_t& read) {
  DWORD count = 0;
  const BOOL ok = Api().readFile(Native(request), buffer, size, &count);
  read = count;
  return ok != FALSE;
}

bool Win32Internet::CloseHandle(HInternet handle) {
  return Api().closeHandle(Native(handle)) != FALSE;
}

}  // namespace platform::win32
