#include "tests/sim/sim_process.h"

#include <string>
#include <utility>

#include "tests/sim/sim_errors.h"

namespace sim {

SimProcess::SimProcess(SimCore& core) : core_(core) {}

std::optional<bool> SimProcess::IsWow64Process() {
  ++calls_;
  switch (entry_) {
    case Entry::kPresent:
      core_.calls.emplace_back(L"Process.IsWow64Process");
      return core_.wow64;
    case Entry::kMissing:
      core_.calls.emplace_back(L"Process.IsWow64Process missing");
      return std::nullopt;
    case Entry::kFails:
      core_.calls.emplace_back(L"Process.IsWow64Process");
      core_.lastError = kErrorInvalidHandle;
      return std::nullopt;
  }
  return std::nullopt;
}

bool SimProcess::StartThread(std::function<void()> task) {
  core_.calls.emplace_back(L"Process.StartThread");
  ++threadsStarted_;
  if (threads_ == Threads::kAtOnce) {
    core_.RunBeside(task);
  } else if (threads_ == Threads::kAtNextSleep) {
    core_.waitingThreads.push_back(std::move(task));
  }
  return true;
}

bool SimProcess::RunWithin(std::function<void()> task, std::uint32_t milliseconds,
                           const std::function<void()>& expire, std::uint32_t grace) {
  core_.calls.push_back(L"Process.RunWithin " + std::to_wstring(milliseconds));
  const bool stuck = core_.CallsNeverReturn();
  if (workers_ != Threads::kAtOnce || stuck) {
    if (workers_ == Threads::kAtNextSleep && !stuck) {
      core_.waitingThreads.push_back(std::move(task));
    }
    core_.nowMs += milliseconds;
    expire();
    core_.nowMs += grace;
    return false;
  }
  core_.deadlineMs = core_.nowMs + milliseconds;
  core_.expire = &expire;
  task();
  const bool inTime = core_.expire != nullptr;
  core_.deadlineMs.reset();
  core_.expire = nullptr;
  return inTime;
}

void SimProcess::Terminate(int exitCode) {
  core_.calls.push_back(L"Process.Terminate " + std::to_wstring(exitCode));
  terminatedWith_ = exitCode;
  terminatedAtMs_ = core_.nowMs;
  core_.waitingThreads.clear();
}

}  // namespace sim
