// The running process: whether it runs under WOW64, the threads it starts,
// and the ways it ends.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

class Process {
 public:
  virtual ~Process() = default;

  // IsWow64Process for the current process, looked up by name in kernel32 on
  // every call. Nothing when the entry does not exist or the call fails.
  [[nodiscard]] virtual std::optional<bool> IsWow64Process() = 0;

  // Runs `task` on a thread of its own (CreateThread) and leaves it to
  // itself; false, with nothing run, when no thread can be started. The task
  // must own, or share, what it uses.
  [[nodiscard]] virtual bool StartThread(std::function<void()> task) = 0;

  // Runs `task` on a thread of its own (CreateThread) and waits for it to end
  // (WaitForSingleObject), at most `milliseconds`. When it has not ended by
  // then, calls `expire` on the calling thread, which tells the task to wind
  // down, waits at most `graceMilliseconds` more, and leaves the task to itself.
  // True only when the task ended within `milliseconds`; false, with nothing
  // run and `expire` not called, when no thread can be started. The task must
  // own, or share, what it uses.
  [[nodiscard]] virtual bool RunWithin(std::function<void()> task, std::uint32_t milliseconds,
                                       const std::function<void()>& expire,
                                       std::uint32_t graceMilliseconds) = 0;

  // TerminateProcess on the process itself, with `exitCode`. Unlike a return
  // from wmain (ExitProcess), it neither runs DLL detach code nor waits for
  // the other threads' locks, so a thread left inside WinINet can neither
  // hang nor crash the end. Returns only when it failed.
  virtual void Terminate(int exitCode) = 0;

  // SetConsoleCtrlHandler: from now on Ctrl+C, Ctrl+Break and closing the
  // console end the process as Terminate does, with the exit code Windows' own
  // handling gives them (STATUS_CONTROL_C_EXIT), rather than through
  // ExitProcess. (Log-off and shutdown reach the handler of a process that
  // uses user32 not at all: the system ends it.) False when the handler could
  // not be added.
  [[nodiscard]] virtual bool EndOnConsoleControl() = 0;
  // From now on that handler writes `text` (ASCII; each line feed as CR LF)
  // to standard output before it ends the process; null: nothing. The text
  // must last as long as the process.
  virtual void SetConsoleControlText(const char* text) = 0;
};

}  // namespace platform
