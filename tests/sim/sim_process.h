// The simulated answer to "does this process run under WOW64?".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/process.h"
#include "tests/sim/sim_core.h"

namespace sim {

class SimProcess : public platform::Process {
 public:
  enum class Entry {
    kPresent,  // IsWow64Process answers with SimCore::wow64
    kMissing,  // kernel32 has no such entry (early 32-bit Windows)
    kFails,    // the call fails
  };

  // When a started thread runs, always beside the caller's time.
  enum class Threads {
    kAtOnce,       // within StartThread
    kAtNextSleep,  // at the next Clock::Sleep: after the caller's next step
    kNever,        // stuck for good, as in a call that never returns
  };

  explicit SimProcess(SimCore& core);

  void SetEntry(Entry entry) { entry_ = entry; }
  int calls() const { return calls_; }
  void SetThreads(Threads threads) { threads_ = threads; }
  // When the task of RunWithin runs (a worker's thread); at once to start with.
  void SetWorkers(Threads workers) { workers_ = workers; }
  int threadsStarted() const { return threadsStarted_; }
  // The exit code and the time of Terminate; nothing before it.
  std::optional<int> terminatedWith() const { return terminatedWith_; }
  std::uint64_t terminatedAtMs() const { return terminatedAtMs_; }

  std::optional<bool> IsWow64Process() override;
  bool StartThread(std::function<void()> task) override;
  // As workers run: at once, on the simulated clock, with SimCore's deadline
  // that the task's waits respect; otherwise, or when one of its calls would
  // never return, the caller waits its whole time and the grace, and the task
  // runs later (kAtNextSleep) or never.
  bool RunWithin(std::function<void()> task, std::uint32_t milliseconds,
                 const std::function<void()>& expire, std::uint32_t graceMilliseconds) override;
  // Drops the threads not run yet: they end with the process.
  void Terminate(int exitCode) override;
  bool EndOnConsoleControl() override {
    core_.calls.emplace_back(L"Process.EndOnConsoleControl");
    return true;
  }
  void SetConsoleControlText(const char* text) override { consoleControlText_ = text; }
  // What the console control handler would write before it ends the process.
  const char* consoleControlText() const { return consoleControlText_; }

 private:
  SimCore& core_;
  Entry entry_ = Entry::kPresent;
  int calls_ = 0;
  Threads threads_ = Threads::kAtOnce;
  Threads workers_ = Threads::kAtOnce;
  int threadsStarted_ = 0;
  std::optional<int> terminatedWith_;
  const char* consoleControlText_ = nullptr;
  std::uint64_t terminatedAtMs_ = 0;
};

}  // namespace sim
