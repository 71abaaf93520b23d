#include "platform/win32/win32_api.h"

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "platform/unique_handle.h"
#include "platform/win32/win32_facilities.h"
#include "platform/win32/win32_handles.h"

namespace platform::win32 {
namespace {

DWORD WINAPI RunTask(LPVOID parameter) {
  const std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(parameter));
  (*task)();
  return 0;
}

// What Windows' own handler ends the process with, whatever the event.
constexpr UINT kStatusControlCExit = 0xC000013A;

// What the handler writes before it ends the process; set by the run.
std::atomic<const char*> controlText{nullptr};

// Straight to standard output: the handler runs on a thread of its own, and
// the run's console writer may be in the middle of a row of dots.
void WriteControlText() {
  const char* text = controlText.load();
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (text == nullptr || !NullOrAllBitsSetIsNone::Holds(output)) return;
  std::string bytes;
  for (; *text != '\0'; ++text) {
    if (*text == '\n') bytes += '\r';
    bytes += *text;
  }
  const auto size = static_cast<DWORD>(bytes.size());
  DWORD mode = 0;
  DWORD written = 0;
  // ASCII reads the same in every console code page and in a file.
  if (GetConsoleMode(output, &mode)) {
    WriteConsoleA(output, bytes.data(), size, &written, nullptr);
  } else {
    WriteFile(output, bytes.data(), size, &written, nullptr);
  }
}

BOOL WINAPI EndOnControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    // Never sent to a process that uses user32, as this one does; ended
    // the same way should that change.
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      WriteControlText();
      // The default handler's ExitProcess would run DLL detach code while a
      // telemetry worker may be inside WinINet, as a return from wmain would.
      TerminateProcess(GetCurrentProcess(), kStatusControlCExit);
      break;
    default:
      break;
  }
  // Only when the process did not end: the next handler, Windows' own, ends it.
  return FALSE;
}

}  // namespace

HANDLE StartTaskThread(std::function<void()> task) {
  auto owned = std::make_unique<std::function<void()>>(std::move(task));
  const HANDLE thread = CreateThread(nullptr, 0, RunTask, owned.get(), 0, nullptr);
  // From here on the thread frees the task, whenever it ends.
  if (thread != nullptr) static_cast<void>(owned.release());
  return thread;
}

std::optional<bool> Win32Process::IsWow64Process() {
  using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto isWow64 = LookUpEntry<IsWow64>(L"kernel32", "IsWow64Process");
  if (isWow64 == nullptr) return std::nullopt;
  BOOL wow64 = FALSE;
  if (!isWow64(GetCurrentProcess(), &wow64)) return std::nullopt;
  return wow64 != FALSE;
}

bool Win32Process::StartThread(std::function<void()> task) {
  const HANDLE thread = StartTaskThread(std::move(task));
  if (thread == nullptr) return false;
  // Nobody waits for it: the thread runs on without its handle.
  ::CloseHandle(thread);
  return true;
}

bool Win32Process::RunWithin(std::function<void()> task, std::uint32_t milliseconds,
                             const std::function<void()>& expire, std::uint32_t graceMilliseconds) {
  const UniqueKernelHandle thread(StartTaskThread(std::move(task)));
  if (!thread) return false;
  if (WaitForSingleObject(thread.get(), milliseconds) == WAIT_OBJECT_0) return true;
  expire();
  WaitForSingleObject(thread.get(), graceMilliseconds);
  return false;
}

void Win32Process::Terminate(int exitCode) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
}

bool Win32Process::EndOnConsoleControl() {
  return SetConsoleCtrlHandler(EndOnControl, TRUE) != FALSE;
}

void Win32Process::SetConsoleControlText(const char* text) { controlText.store(text); }

}  // namespace platform::win32
