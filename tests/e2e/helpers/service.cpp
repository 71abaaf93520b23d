// A real Windows service for the end-to-end tests: it reports the state that
// its command line asks for and logs every control it receives, so a test can
// tell whether the tool sent a stop request.
//
//   e2e-service.exe MODE LOGFILE
//
// MODE:
//   stops          running; a stop request stops it
//   ignores-stop   running and accepting stop, but a stop request changes nothing
//   refuses-stop   running and not accepting stop (the request fails with 1052)
//   start-pending  reports SERVICE_START_PENDING and stays there
//   paused         running at first, SERVICE_PAUSED 1.5 s later
//   stop-pending   running at first, SERVICE_STOP_PENDING 1.5 s later
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring g_mode;
std::wstring g_logPath;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

// One line per event, appended and closed at once so the test can read the
// log while the service is still running.
void Log(const char* text, DWORD number) {
  FILE* log = _wfopen(g_logPath.c_str(), L"ab");
  if (log == nullptr) return;
  std::fprintf(log, "%s %lu\n", text, static_cast<unsigned long>(number));
  std::fclose(log);
}

void Report(DWORD state, DWORD accepted) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = accepted;
  status.dwWaitHint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? 60000 : 0;
  // Logged first: once the service reports stopped, its process may end.
  Log("state", state);
  SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD /*eventType*/, LPVOID /*eventData*/, LPVOID /*context*/) {
  Log("control", control);
  if (control == SERVICE_CONTROL_STOP && g_mode == L"stops") {
    Report(SERVICE_STOP_PENDING, 0);
    SetEvent(g_stopEvent);
    return NO_ERROR;
  }
  if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
  // Every other mode leaves its state as it is; the tool must see it unchanged.
  return control == SERVICE_CONTROL_STOP ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
  g_statusHandle = RegisterServiceCtrlHandlerExW(L"", Handler, nullptr);
  if (g_statusHandle == nullptr) return;
  g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);

  if (g_mode == L"stops" || g_mode == L"ignores-stop") {
    Report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
  } else if (g_mode == L"refuses-stop") {
    Report(SERVICE_RUNNING, 0);
  } else if (g_mode == L"start-pending") {
    Report(SERVICE_START_PENDING, 0);
  } else if (g_mode == L"paused" || g_mode == L"stop-pending") {
    // Wine's service manager takes a service that leaves the start-pending
    // state for anything but running as a failed start and marks it stopped.
    // So it starts as running and settles in its final state once the start
    // request has been answered.
    Report(SERVICE_RUNNING, 0);
    Sleep(1500);
    if (g_mode == L"paused") {
      Report(SERVICE_PAUSED, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE);
    } else {
      Report(SERVICE_STOP_PENDING, 0);
    }
  } else {
    Log("unknown-mode", 0);
    Report(SERVICE_STOPPED, 0);
    return;
  }

  WaitForSingleObject(g_stopEvent, INFINITE);
  Report(SERVICE_STOPPED, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: e2e-service.exe MODE LOGFILE\n");
    return 2;
  }
  g_mode = argv[1];
  g_logPath = argv[2];
  Log("process", GetCurrentProcessId());

  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    Log("dispatcher-failed", GetLastError());
    return 1;
  }
  return 0;
}
