// State that the simulated facilities share, as the real ones share the thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct SimCore {
  // The thread's last error, set by every simulated call that fails.
  std::uint32_t lastError = 0;
  // Simulated time in milliseconds; only Sleep and simulated waits move it.
  std::uint64_t nowMs = 0;
  // Every platform call in order, as "Facility.Call argument...", so that tests
  // can check the order of effects across facilities.
  std::vector<std::wstring> calls;
  // The machine is 64-bit Windows and the process a 32-bit one on it: the
  // registry and the system directory then have a 32-bit view, which the
  // process sees unless it asks for the native one.
  bool wow64 = false;
  // Threads started and not run yet (see SimProcess::Threads).
  std::vector<std::function<void()>> waitingThreads;
  // The deadline of the task that Process::RunWithin runs, and what it
  // calls when a simulated wait reaches that deadline.
  std::optional<std::uint64_t> deadlineMs;
  const std::function<void()>* expire = nullptr;
  // Each facility whose calls can block for good says here whether they would
  // now (a desktop shell that hangs, a server that never answers): a task of
  // RunWithin is then stuck in its first such call, and none of it runs.
  std::vector<std::function<bool()>> callsNeverReturn;

  bool CallsNeverReturn() const {
    return std::any_of(callsNeverReturn.begin(), callsNeverReturn.end(),
                       [](const std::function<bool()>& hangs) { return hangs(); });
  }

  // Moves simulated time on; the threads waiting for that run then.
  void PassTime(std::uint64_t milliseconds) {
    nowMs += milliseconds;
    for (const std::function<void()>& task : std::exchange(waitingThreads, {})) {
      RunBeside(task);
    }
  }

  // Runs a thread's task to its end beside the caller: the time that the
  // task's simulated waits take is its own, not the caller's.
  void RunBeside(const std::function<void()>& task) {
    const std::uint64_t callerNow = nowMs;
    task();
    nowMs = callerNow;
  }

  // How long a call that never returns takes, outside a worker.
  static constexpr std::uint64_t kForeverMs = std::uint64_t{1} << 62;

  // A simulated call that waits `milliseconds`. One still waiting at its
  // task's deadline goes on waiting: the clock stops at the deadline for
  // `expire` to run, as the waiting thread runs it then, and the call returns
  // late, at its own time.
  void Wait(std::uint64_t milliseconds) {
    const std::uint64_t end = nowMs + milliseconds;
    if (deadlineMs && end > *deadlineMs) {
      nowMs = std::max(nowMs, *deadlineMs);
      if (const std::function<void()>* expiring = std::exchange(expire, nullptr)) (*expiring)();
    }
    nowMs = end;
  }
};

}  // namespace sim
