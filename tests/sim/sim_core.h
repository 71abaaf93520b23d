// State that the simulated facilities share, as the real ones share the thread.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace sim {

struct SimCore {
  ~SimCore() { ReleaseLeftCalls(); }

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

  // Runs a thread's task to its end beside the caller: the time that the
  // task's simulated waits take is its own, not the caller's.
  void RunBeside(const std::function<void()>& task) {
    const std::uint64_t callerNow = nowMs;
    task();
    nowMs = callerNow;
  }

  // --- A task run within a deadline (ProcessInfo::RunWithin) ---
  // It runs on a thread of its own while the caller waits, one of the two at a
  // time, so the tests stay deterministic.

  // Runs `task` until it ends (true), or until a call in it waits past
  // `milliseconds` (false): the caller then goes on at the deadline and the
  // call is left waiting, as a real thread is left hanging.
  bool RunUntilDeadline(std::function<void()> task, std::uint32_t milliseconds) {
    const std::uint64_t deadline = nowMs + milliseconds;
    auto run = std::make_shared<TaskRun>();
    deadline_ = deadline;
    current_ = run;
    run->thread = std::thread([this, run, task = std::move(task)] {
      task();
      HandBack(*run, true);
    });
    {
      std::unique_lock<std::mutex> lock(mutex_);
      turn_.wait(lock, [&] { return run->yielded; });
    }
    current_.reset();
    deadline_.reset();
    if (run->finished) {
      run->thread.join();
      return true;
    }
    nowMs = std::max(nowMs, deadline);
    left_.push_back(run);
    return false;
  }

  // A simulated call that takes `milliseconds` (nothing: it never ends by
  // itself). One that would still wait at its task's deadline is left there
  // until ReleaseLeftCalls; true once it has ended.
  bool Wait(std::optional<std::uint32_t> milliseconds) {
    if (milliseconds && (!deadline_ || nowMs + *milliseconds <= *deadline_)) {
      nowMs += *milliseconds;
      return true;
    }
    const std::shared_ptr<TaskRun> run = current_;
    if (!run) {
      return false;  // nobody to go on meanwhile: a test would hang for good
    }
    HandBack(*run, false);
    std::unique_lock<std::mutex> lock(mutex_);
    turn_.wait(lock, [&] { return run->released; });
    return true;
  }

  // Lets every call left waiting end, and each task run to its end, in turn.
  void ReleaseLeftCalls() {
    for (const std::shared_ptr<TaskRun>& run : std::exchange(left_, {})) {
      std::unique_lock<std::mutex> lock(mutex_);
      run->yielded = false;
      run->released = true;
      turn_.notify_all();
      turn_.wait(lock, [&] { return run->yielded; });
      lock.unlock();
      run->thread.join();
    }
  }

 private:
  struct TaskRun {
    std::thread thread;
    bool yielded = false;  // the caller's turn: the task ended or was left
    bool finished = false;
    bool released = false;
  };

  void HandBack(TaskRun& run, bool finished) {
    const std::lock_guard<std::mutex> lock(mutex_);
    run.finished = finished;
    run.yielded = true;
    turn_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable turn_;
  std::optional<std::uint64_t> deadline_;
  std::shared_ptr<TaskRun> current_;
  std::vector<std::shared_ptr<TaskRun>> left_;
};

}  // namespace sim
