// The simulated keyboard and clock: key presses scripted over simulated time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform/input.h"
#include "tests/sim/sim_core.h"

namespace sim {

// One GetAsyncKeyState call: which key, when, and how many entries the call
// log held at that moment (queries are too many to go into the log itself).
struct KeyQuery {
  int virtualKey = 0;
  std::uint64_t atMs = 0;
  std::size_t callIndex = 0;
};

// GetAsyncKeyState over simulated time. A key is down from its press time up
// to (not including) its release time; the high bit reports that. The low bit
// reports a press made since the previous query of the same key; the first
// query after the press clears it, as on the real desktop.
class SimKeyboard : public platform::Keyboard {
 public:
  static constexpr std::uint64_t kNever = ~std::uint64_t{0};
  // A prompt that nobody answers would poll for ever; past this many queries
  // the simulation stops the test process instead of hanging it.
  static constexpr std::size_t kDefaultQueryLimit = 1'000'000;

  explicit SimKeyboard(SimCore& core);

  // The key goes down at `downMs` and comes up at `upMs`.
  void Press(int virtualKey, std::uint64_t downMs, std::uint64_t upMs);
  // The key goes down at `downMs` and stays down.
  void Hold(int virtualKey, std::uint64_t downMs);
  // Down and up again at `atMs`: only the low bit of the next query sees it.
  void Tap(int virtualKey, std::uint64_t atMs);

  void SetQueryLimit(std::size_t limit) { queryLimit_ = limit; }

  std::int16_t GetAsyncKeyState(int virtualKey) override;

  // Standard input is a console (the start) or redirected.
  void SetStandardInputIsConsole(bool console) { standardInputIsConsole_ = console; }
  bool StandardInputIsConsole() override {
    core_.calls.push_back(L"Keyboard.StandardInputIsConsole");
    return standardInputIsConsole_;
  }
  bool FlushConsoleInput() override {
    core_.calls.push_back(L"Keyboard.FlushConsoleInput");
    return standardInputIsConsole_;
  }

  // The keyboard's focus. At the start the process has a console window of
  // its own and it is in front.
  // No console window at all (false), or one (true).
  void SetConsoleWindow(bool present) { consoleWindowPresent_ = present; }
  // The console is hosted in a terminal, whose window owns it and is the one
  // in front when the console has the focus.
  void SetHostedInTerminal(bool hosted) { hostedInTerminal_ = hosted; }
  // Another window is in front from `fromMs` up to (not including) `toMs`.
  void FocusElsewhere(std::uint64_t fromMs, std::uint64_t toMs);

  platform::WindowHandle ConsoleWindow() override;
  platform::WindowHandle ForegroundWindow() override;
  platform::WindowHandle RootOwner(platform::WindowHandle window) override;

  // Every query so far, in order.
  const std::vector<KeyQuery>& queries() const { return queries_; }
  // The keys of every query so far, in order.
  std::vector<int> QueriedKeys() const;

 private:
  struct KeyPress {
    int virtualKey = 0;
    std::uint64_t downMs = 0;
    std::uint64_t upMs = 0;
  };

  SimCore& core_;
  std::vector<KeyPress> presses_;
  std::vector<KeyQuery> queries_;
  // When each key was last queried; a key never queried has no entry.
  std::map<int, std::uint64_t> lastQueryMs_;
  std::size_t queryLimit_ = kDefaultQueryLimit;
  bool standardInputIsConsole_ = true;
  bool consoleWindowPresent_ = true;
  bool hostedInTerminal_ = false;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> focusElsewhere_;
};

// One Sleep call: its length, when it began, and the call log's size then.
struct SleepRecord {
  std::uint32_t milliseconds = 0;
  std::uint64_t startMs = 0;
  std::size_t callIndex = 0;
};

// Sleep moves simulated time forward at once and records the pause; the
// threads waiting for it run then.
class SimClock : public platform::Clock {
 public:
  explicit SimClock(SimCore& core);

  void Sleep(std::uint32_t milliseconds) override;

  // Every pause asked for, in order.
  const std::vector<SleepRecord>& sleeps() const { return sleeps_; }
  // The lengths of every pause, in order.
  std::vector<std::uint32_t> SleepLengths() const;
  std::uint64_t TotalSleptMs() const;

 private:
  SimCore& core_;
  std::vector<SleepRecord> sleeps_;
};

}  // namespace sim
