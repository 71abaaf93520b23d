#include "platform/win32/win32_api.h"

#include <exdisp.h>
#include <ole2.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win32/win32_facilities.h"
#include "platform/win32/win32_handles.h"

namespace platform::win32 {
namespace {

// A COM apartment for the thread while it lives. Shell extensions that an
// "open" may start are COM objects and expect a single-threaded apartment; a
// thread that already has one keeps it.
class ComApartment {
 public:
  ComApartment()
      : initialized_(
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
  }
  ~ComApartment() {
    if (initialized_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialized_;
};

// A VARIANT that is cleared (its string freed) when it goes.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  explicit Variant(const wchar_t* text) : Variant() {
    value_.vt = VT_BSTR;
    value_.bstrVal = SysAllocString(text);
  }
  explicit Variant(int number) : Variant() {
    value_.vt = VT_I4;
    value_.lVal = number;
  }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT* get() { return &value_; }
  // A string that failed to be allocated holds nothing.
  [[nodiscard]] bool HoldsValue() const {
    return value_.vt != VT_BSTR || value_.bstrVal != nullptr;
  }

 private:
  VARIANT value_{};
};

// The desktop's IShellDispatch2: the object behind Explorer's desktop window,
// which runs as the interactive user whatever this process runs as.
bool FindDesktopShellDispatch(UniqueComRef<IShellDispatch2>& dispatch) {
  UniqueComRef<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                              __uuidof(IShellWindows), PutVoid(windows))) ||
      !windows) {
    return false;
  }
  Variant desktop(CSIDL_DESKTOP);
  Variant noRoot;
  long desktopWindow = 0;
  UniqueComRef<IDispatch> browserObject;
  // S_FALSE, and no object, when there is no desktop window.
  if (windows.get()->FindWindowSW(desktop.get(), noRoot.get(), SWC_DESKTOP, &desktopWindow,
                                  SWFO_NEEDDISPATCH, browserObject.put()) != S_OK ||
      !browserObject) {
    return false;
  }
  UniqueComRef<IServiceProvider> services;
  UniqueComRef<IShellBrowser> browser;
  if (!QueryAs(browserObject, services) ||
      FAILED(services.get()->QueryService(SID_STopLevelBrowser, __uuidof(IShellBrowser),
                                          PutVoid(browser))) ||
      !browser) {
    return false;
  }
  UniqueComRef<IShellView> view;
  if (FAILED(browser.get()->QueryActiveShellView(view.put())) || !view) return false;
  UniqueComRef<IDispatch> background;
  if (FAILED(
          view.get()->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch), PutVoid(background))) ||
      !background) {
    return false;
  }
  UniqueComRef<IShellFolderViewDual> folderView;
  UniqueComRef<IDispatch> application;
  if (!QueryAs(background, folderView) ||
      FAILED(folderView.get()->get_Application(application.put())) || !application) {
    return false;
  }
  return QueryAs(application, dispatch);
}

}  // namespace

std::optional<std::vector<BYTE>> TokenUserOf(HANDLE process) {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &opened)) return std::nullopt;
  const UniqueKernelHandle token(opened);
  DWORD size = 0;
  static_cast<void>(GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size));
  if (size < sizeof(TOKEN_USER)) return std::nullopt;
  // Allocated memory is aligned for any type, TOKEN_USER included.
  std::vector<BYTE> user(size);
  if (!GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) return std::nullopt;
  return user;
}

PSID SidOf(std::vector<BYTE>& tokenUser) {
  return reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

std::optional<DesktopShellAccount> Win32DesktopShell::FindDesktopShellAccount() {
  const HWND shellWindow = GetShellWindow();
  if (shellWindow == nullptr) return std::nullopt;
  DWORD shellProcessId = 0;
  if (GetWindowThreadProcessId(shellWindow, &shellProcessId) == 0 || shellProcessId == 0) {
    return std::nullopt;
  }
  const UniqueKernelHandle shellProcess(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcessId));
  if (!shellProcess) return std::nullopt;
  std::optional<std::vector<BYTE>> shellUser = TokenUserOf(shellProcess.get());
  std::optional<std::vector<BYTE>> ownUser = TokenUserOf(GetCurrentProcess());
  if (!shellUser || !ownUser) return std::nullopt;
  const PSID sid = SidOf(*shellUser);
  const auto* const bytes = static_cast<const std::uint8_t*>(sid);
  return DesktopShellAccount{std::vector<std::uint8_t>(bytes, bytes + GetLengthSid(sid)),
                             EqualSid(sid, SidOf(*ownUser)) != FALSE};
}

bool Win32DesktopShell::OpenDocumentAsDesktopUser(const std::wstring& path, int showCommand) {
  const ComApartment apartment;
  UniqueComRef<IShellDispatch2> shell;
  if (!FindDesktopShellDispatch(shell)) return false;
  const UniqueBstr file(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
  Variant arguments(L"");
  Variant directory(L"");
  Variant operation(L"open");
  Variant show(showCommand);
  if (!file || !arguments.HoldsValue() || !directory.HoldsValue() || !operation.HoldsValue()) {
    return false;
  }
  // S_FALSE: the shell took the request and started nothing.
  return shell.get()->ShellExecute(file.get(), *arguments.get(), *directory.get(), *operation.get(),
                                   *show.get()) == S_OK;
}

}  // namespace platform::win32
