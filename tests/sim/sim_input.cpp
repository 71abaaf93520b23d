#include "tests/sim/sim_input.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>

namespace sim {

namespace {

constexpr std::uint16_t kDownBit = 0x8000;
constexpr std::uint16_t kPressedSinceQueryBit = 0x0001;

// The desktop's windows, told apart by their handles.
platform::WindowHandle Window(std::uintptr_t id) {
  return reinterpret_cast<platform::WindowHandle>(id);
}
const platform::WindowHandle kConsoleWindow = Window(0x1000);
const platform::WindowHandle kTerminalWindow = Window(0x2000);
const platform::WindowHandle kOtherWindow = Window(0x3000);

}  // namespace

SimKeyboard::SimKeyboard(SimCore& core) : core_(core) {}

void SimKeyboard::Press(int virtualKey, std::uint64_t downMs, std::uint64_t upMs) {
  presses_.push_back({virtualKey, downMs, upMs});
}

void SimKeyboard::Hold(int virtualKey, std::uint64_t downMs) { Press(virtualKey, downMs, kNever); }

void SimKeyboard::Tap(int virtualKey, std::uint64_t atMs) { Press(virtualKey, atMs, atMs); }

std::int16_t SimKeyboard::GetAsyncKeyState(int virtualKey) {
  if (queries_.size() >= queryLimit_) {
    std::fputs("SimKeyboard: query limit reached, no scripted key ended the prompt\n", stderr);
    std::abort();
  }
  const std::uint64_t now = core_.nowMs;
  queries_.push_back({virtualKey, now, core_.calls.size()});

  const auto last = lastQueryMs_.find(virtualKey);
  std::uint16_t bits = 0;
  for (const KeyPress& press : presses_) {
    if (press.virtualKey != virtualKey || press.downMs > now) {
      continue;
    }
    if (now < press.upMs) {
      bits |= kDownBit;
    }
    // Pressed after the previous query of this key (or never queried before).
    if (last == lastQueryMs_.end() || press.downMs > last->second) {
      bits |= kPressedSinceQueryBit;
    }
  }
  lastQueryMs_[virtualKey] = now;
  return static_cast<std::int16_t>(bits);
}

void SimKeyboard::FocusElsewhere(std::uint64_t fromMs, std::uint64_t toMs) {
  focusElsewhere_.emplace_back(fromMs, toMs);
}

platform::WindowHandle SimKeyboard::ConsoleWindow() {
  return consoleWindowPresent_ ? kConsoleWindow : nullptr;
}

platform::WindowHandle SimKeyboard::ForegroundWindow() {
  for (const auto& [from, to] : focusElsewhere_) {
    if (core_.nowMs >= from && core_.nowMs < to) {
      return kOtherWindow;
    }
  }
  return hostedInTerminal_ ? kTerminalWindow : kConsoleWindow;
}

platform::WindowHandle SimKeyboard::RootOwner(platform::WindowHandle window) {
  if (window == kConsoleWindow && hostedInTerminal_) {
    return kTerminalWindow;
  }
  return window;
}

std::vector<int> SimKeyboard::QueriedKeys() const {
  std::vector<int> keys;
  keys.reserve(queries_.size());
  for (const KeyQuery& query : queries_) {
    keys.push_back(query.virtualKey);
  }
  return keys;
}

SimClock::SimClock(SimCore& core) : core_(core) {}

void SimClock::Sleep(std::uint32_t milliseconds) {
  sleeps_.push_back({milliseconds, core_.nowMs, core_.calls.size()});
  core_.nowMs += milliseconds;
  for (const std::function<void()>& task : std::exchange(core_.waitingThreads, {})) {
    core_.RunBeside(task);
  }
}

std::vector<std::uint32_t> SimClock::SleepLengths() const {
  std::vector<std::uint32_t> lengths;
  lengths.reserve(sleeps_.size());
  for (const SleepRecord& sleep : sleeps_) {
    lengths.push_back(sleep.milliseconds);
  }
  return lengths;
}

std::uint64_t SimClock::TotalSleptMs() const {
  std::uint64_t total = 0;
  for (const SleepRecord& sleep : sleeps_) {
    total += sleep.milliseconds;
  }
  return total;
}

}  // namespace sim
