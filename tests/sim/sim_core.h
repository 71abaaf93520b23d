// State that the simulated facilities share, as the real ones share the thread.
#pragma once

#include <cstdint>
#include <functional>
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
};

}  // namespace sim
