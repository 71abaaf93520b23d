#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

ScHandle Win32ServiceControl::OpenSCManager(std::uint32_t access) {
  return ToOpaque<ScHandle>(OpenSCManagerW(nullptr, nullptr, access));
}

ScHandle Win32ServiceControl::OpenService(ScHandle manager, const std::wstring& name,
                                          std::uint32_t access) {
  return ToOpaque<ScHandle>(OpenServiceW(ToNative<SC_HANDLE>(manager), name.c_str(), access));
}

bool Win32ServiceControl::QueryServiceStatus(ScHandle service, ServiceStatus& status) {
  SERVICE_STATUS_PROCESS record{};
  DWORD needed = 0;
  const BOOL ok = QueryServiceStatusEx(ToNative<SC_HANDLE>(service), SC_STATUS_PROCESS_INFO,
                                       reinterpret_cast<BYTE*>(&record), sizeof(record), &needed);
  if (!ok) return false;
  status.currentState = record.dwCurrentState;
  return true;
}

bool Win32ServiceControl::ControlService(ScHandle service, std::uint32_t control) {
  SERVICE_STATUS ignored{};
  return ::ControlService(ToNative<SC_HANDLE>(service), control, &ignored) != FALSE;
}

bool Win32ServiceControl::DeleteService(ScHandle service) {
  return ::DeleteService(ToNative<SC_HANDLE>(service)) != FALSE;
}

bool Win32ServiceControl::CloseServiceHandle(ScHandle handle) {
  return ::CloseServiceHandle(ToNative<SC_HANDLE>(handle)) != FALSE;
}

}  // namespace platform::win32
