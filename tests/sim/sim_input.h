// The simulated keyboard and clock: key presses and the console's input
// scripted over simulated time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
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

// One Sleep call, or one wait on the console's input: its length, when it
// began, and the call log's size then.
struct SleepRecord {
  std::uint32_t milliseconds = 0;
  std::uint64_t startMs = 0;
  std::size_t callIndex = 0;
};

// GetAsyncKeyState over simulated time. A key is down from its press time up
// to (not including) its release time; the high bit reports that. The low bit
// reports a press made since the previous query of the same key; the first
// query after the press clears it, as on the real desktop. Apart from it, the
// console's input: records arriving over simulated time.
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

  // The console's input. At the start the process has none (CONIN$ does not
  // open): it was started detached.
  void SetConsoleInput(bool present) { consoleInput_ = present; }
  // A record that arrives in the console's input at `atMs`.
  void Arrive(std::uint64_t atMs, platform::ConsoleInputRecord record);
  // Typed into the console: the key's key-down at `downMs`, its key-up at `upMs`.
  void Type(int virtualKey, std::uint64_t downMs, std::uint64_t upMs);
  // From a terminal, to input in its own mode: key-downs without key codes.
  void SendFromTerminal(std::uint64_t atMs, std::wstring_view text);
  // Waits on the console's input that start before `untilMs` fail.
  void FailConsoleWaits(std::uint64_t untilMs) { failWaitsUntilMs_ = untilMs; }

  platform::ConsoleInputHandle OpenConsoleInput() override;
  bool CloseConsoleInput(platform::ConsoleInputHandle input) override;
  // Returns at once when a record is waiting, else moves simulated time to the
  // next record's arrival or by `milliseconds`, whichever comes first.
  platform::InputWait WaitForConsoleInput(platform::ConsoleInputHandle input,
                                          std::uint32_t milliseconds) override;
  // No more than 64 records a read, as the real machine's reads take.
  std::vector<platform::ConsoleInputRecord> ReadConsoleRecords(
      platform::ConsoleInputHandle input) override;
  bool FlushConsoleInput(platform::ConsoleInputHandle input) override;

  // Every wait on the console's input, as SleepRecords.
  const std::vector<SleepRecord>& inputWaits() const { return inputWaits_; }

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
  bool consoleInput_ = false;
  std::uint64_t failWaitsUntilMs_ = 0;
  // The console's records by arrival; those before `unread_` have been read.
  std::vector<std::pair<std::uint64_t, platform::ConsoleInputRecord>> arrivals_;
  std::size_t unread_ = 0;
  std::vector<SleepRecord> inputWaits_;
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
