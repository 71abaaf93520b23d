// Marks services for deletion and keeps them in that state: it deletes each
// service through a handle that it then holds open, so the service control
// manager cannot remove the service until this process ends, just as on a
// machine where an earlier removal ran and no restart followed.
//
//   e2e-mark.exe READYFILE NAME...
//
// READYFILE receives one line per service, "NAME 0" when DeleteService
// succeeded or "NAME CODE" with the error, once all are done.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: e2e-mark.exe READYFILE NAME...\n");
    return 2;
  }
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return 1;
  std::vector<SC_HANDLE> held;
  std::string report;
  for (int i = 2; i < argc; ++i) {
    SC_HANDLE service = OpenServiceW(manager, argv[i], SERVICE_ALL_ACCESS);
    DWORD result = service == nullptr ? GetLastError() : 0;
    if (service != nullptr) {
      if (!DeleteService(service)) result = GetLastError();
      held.push_back(service);
    }
    char line[300];
    std::snprintf(line, sizeof line, "%ls %lu\n", argv[i], static_cast<unsigned long>(result));
    report += line;
  }
  const std::wstring partial = std::wstring(argv[1]) + L".part";
  FILE* ready = _wfopen(partial.c_str(), L"wb");
  if (ready == nullptr) return 1;
  std::fputs(report.c_str(), ready);
  std::fclose(ready);
  MoveFileExW(partial.c_str(), argv[1], MOVEFILE_REPLACE_EXISTING);
  Sleep(INFINITE);
  for (SC_HANDLE service : held) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return 0;
}
