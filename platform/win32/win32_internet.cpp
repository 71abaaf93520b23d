#include "platform/win32/win32_api.h"

#include <memory>
#include <utility>

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {
namespace {

// No status callback is registered, so the context value carries no meaning.
constexpr DWORD_PTR kNoContext = 0;

HINTERNET Native(HInternet handle) { return ToNative<HINTERNET>(handle); }
HInternet Opaque(HINTERNET handle) { return ToOpaque<HInternet>(handle); }

// The WinINet entry points. WinINet is no KnownDLL: imported, it would be
// searched for beside the exe first, where anyone who can write to a
// downloads folder could place one that runs with the tool's rights.
struct WinInet {
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
bool Resolve(HMODULE module, const char* name, Function& entry) {
  const FARPROC found = GetProcAddress(module, name);
  // Through the generic function pointer type, which converts to any other.
  entry = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  return found != nullptr;
}

// From the system directory only, for WinINet and the DLLs it loads in turn.
// All entries null when it or any entry point is missing; Windows 7 without
// KB2533623 refuses the flag, which leaves telemetry unsent there rather than
// loaded from an unsafe place.
WinInet Load() {
  const HMODULE module = LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return {};
  WinInet api;
  const bool complete = Resolve(module, "InternetAttemptConnect", api.attemptConnect) &&
                        Resolve(module, "InternetOpenW", api.open) &&
                        Resolve(module, "InternetSetOptionW", api.setOption) &&
                        Resolve(module, "InternetConnectW", api.connect) &&
                        Resolve(module, "HttpOpenRequestW", api.openRequest) &&
                        Resolve(module, "HttpAddRequestHeadersW", api.addRequestHeaders) &&
                        Resolve(module, "HttpSendRequestExW", api.sendRequestEx) &&
                        Resolve(module, "InternetWriteFile", api.writeFile) &&
                        Resolve(module, "HttpEndRequestW", api.endRequest) &&
                        Resolve(module, "HttpQueryInfoW", api.queryInfoW) &&
                        Resolve(module, "HttpQueryInfoA", api.queryInfoA) &&
                        Resolve(module, "InternetReadFile", api.readFile) &&
                        Resolve(module, "InternetCloseHandle", api.closeHandle);
  return complete ? api : WinInet{};
}

// Loaded once and never unloaded: an exchange given up on may still be
// inside the DLL when the run ends.
const WinInet& Api() {
  static const WinInet api = Load();
  return api;
}

DWORD WINAPI RunTask(LPVOID parameter) {
  const std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(parameter));
  (*task)();
  return 0;
}

struct ThreadCloser {
  void operator()(HANDLE thread) const { ::CloseHandle(thread); }
};
using ThreadHandle = std::unique_ptr<void, ThreadCloser>;

}  // namespace

Win32Internet::Win32Internet() { static_cast<void>(Api()); }

std::uint32_t Win32Internet::AttemptConnect() {
  if (Api().attemptConnect == nullptr) return ERROR_MOD_NOT_FOUND;
  return Api().attemptConnect(0);
}

HInternet Win32Internet::Open(const std::wstring& agent, std::uint32_t accessType) {
  if (Api().open == nullptr) return nullptr;
  return Opaque(Api().open(agent.c_str(), accessType, nullptr, nullptr, 0));
}

bool Win32Internet::SetOption(HInternet handle, std::uint32_t option, std::uint32_t value) {
  DWORD number = value;
  return Api().setOption != nullptr &&
         Api().setOption(Native(handle), option, &number, sizeof(number)) != FALSE;
}

HInternet Win32Internet::Connect(HInternet root, const std::wstring& server, std::uint16_t port,
                                 std::uint32_t service) {
  if (Api().connect == nullptr) return nullptr;
  return Opaque(
      Api().connect(Native(root), server.c_str(), port, nullptr, nullptr, service, 0, kNoContext));
}

HInternet Win32Internet::OpenRequest(HInternet connection, const std::wstring& verb,
                                     const std::wstring& object, std::uint32_t flags) {
  if (Api().openRequest == nullptr) return nullptr;
  return Opaque(Api().openRequest(Native(connection), verb.c_str(), object.c_str(), nullptr,
                                  nullptr, nullptr, flags, kNoContext));
}

bool Win32Internet::AddRequestHeaders(HInternet request, const std::wstring& headers,
                                      std::uint32_t modifiers) {
  // A length of -1 tells WinINet that the text ends at its NUL.
  constexpr auto kUpToTerminator = static_cast<DWORD>(-1);
  return Api().addRequestHeaders != nullptr &&
         Api().addRequestHeaders(Native(request), headers.c_str(), kUpToTerminator, modifiers) !=
             FALSE;
}

bool Win32Internet::SendRequestEx(HInternet request) {
  return Api().sendRequestEx != nullptr &&
         Api().sendRequestEx(Native(request), nullptr, nullptr, 0, kNoContext) != FALSE;
}

bool Win32Internet::WriteFile(HInternet request, const std::uint8_t* data, std::uint32_t size,
                              std::uint32_t& written) {
  written = 0;
  if (Api().writeFile == nullptr) return false;
  DWORD count = 0;
  const BOOL ok = Api().writeFile(Native(request), data, size, &count);
  written = count;
  return ok != FALSE;
}

bool Win32Internet::EndRequest(HInternet request) {
  return Api().endRequest != nullptr && Api().endRequest(Native(request), nullptr, 0, 0) != FALSE;
}

bool Win32Internet::QueryStatusCode(HInternet request, std::uint32_t& status) {
  DWORD number = 0;
  DWORD length = sizeof(number);
  DWORD index = 0;
  if (Api().queryInfoW == nullptr ||
      !Api().queryInfoW(Native(request), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &number,
                        &length, &index)) {
    return false;
  }
  status = number;
  return true;
}

bool Win32Internet::QueryInfoA(HInternet request, std::uint32_t infoLevel, char* buffer,
                               std::uint32_t& length) {
  if (Api().queryInfoA == nullptr) return false;
  DWORD size = length;
  const BOOL ok = Api().queryInfoA(Native(request), infoLevel, buffer, &size, nullptr);
  length = size;
  return ok != FALSE;
}

bool Win32Internet::ReadFile(HInternet request, std::uint8_t* buffer, std::uint32_t size,
                             std::uint32_t& read) {
  read = 0;
  if (Api().readFile == nullptr) return false;
  DWORD count = 0;
  const BOOL ok = Api().readFile(Native(request), buffer, size, &count);
  read = count;
  return ok != FALSE;
}

bool Win32Internet::CloseHandle(HInternet handle) {
  return Api().closeHandle != nullptr && Api().closeHandle(Native(handle)) != FALSE;
}

bool Win32Internet::RunWithin(std::function<void()> task, std::uint32_t milliseconds,
                              const std::function<void()>& expire,
                              std::uint32_t graceMilliseconds) {
  auto owned = std::make_unique<std::function<void()>>(std::move(task));
  const ThreadHandle thread(CreateThread(nullptr, 0, RunTask, owned.get(), 0, nullptr));
  if (!thread) return false;
  // The thread frees the task, whenever it ends.
  static_cast<void>(owned.release());
  if (WaitForSingleObject(thread.get(), milliseconds) == WAIT_OBJECT_0) return true;
  expire();
  WaitForSingleObject(thread.get(), graceMilliseconds);
  return false;
}

}  // namespace platform::win32
