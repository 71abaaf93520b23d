#include "tests/sim/sim_input.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/ascii.h"
#include "tests/sim/sim_errors.h"

namespace sim {

namespace {

constexpr std::uint16_t kDownBit = 0x8000;
constexpr std::uint16_t kPressedSinceQueryBit = 0x0001;

const auto kConsoleInput = reinterpret_cast<platform::ConsoleInputHandle>(std::uintptr_t{0x10});
constexpr std::size_t kRecordsPerRead = 64;

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

void SimKeyboard::Arrive(std::uint64_t atMs, platform::ConsoleInputRecord record) {
  const auto later = std::find_if(arrivals_.begin() + static_cast<std::ptrdiff_t>(unread_),
                                  arrivals_.end(), [&](const auto& a) { return a.first > atMs; });
  arrivals_.insert(later, {atMs, record});
}

void SimKeyboard::Type(int virtualKey, std::uint64_t downMs, std::uint64_t upMs) {
  // A letter's key types the small letter.
  const auto character = static_cast<wchar_t>(
      platform::IsAsciiUpper(static_cast<wchar_t>(virtualKey)) ? virtualKey - 'A' + 'a' : 0);
  Arrive(downMs, {platform::ConsoleInputRecord::Kind::kKeyDown, virtualKey, character});
  Arrive(upMs, {platform::ConsoleInputRecord::Kind::kKeyUp, virtualKey, character});
}

void SimKeyboard::SendFromTerminal(std::uint64_t atMs, std::wstring_view text) {
  for (const wchar_t c : text) Arrive(atMs, {platform::ConsoleInputRecord::Kind::kKeyDown, 0, c});
}

platform::ConsoleInputHandle SimKeyboard::OpenConsoleInput() {
  core_.calls.emplace_back(L"Keyboard.OpenConsoleInput");
  if (!consoleInput_) {
    core_.lastError = kErrorInvalidHandle;
    return nullptr;
  }
  return kConsoleInput;
}

bool SimKeyboard::CloseConsoleInput(platform::ConsoleInputHandle input) {
  core_.calls.emplace_back(L"Keyboard.CloseConsoleInput");
  return input == kConsoleInput;
}

platform::InputWait SimKeyboard::WaitForConsoleInput(platform::ConsoleInputHandle /*input*/,
                                                     std::uint32_t milliseconds) {
  if (inputWaits_.size() >= queryLimit_) {
    std::fputs("SimKeyboard: wait limit reached, no scripted key ended the prompt\n", stderr);
    std::abort();
  }
  inputWaits_.push_back({milliseconds, core_.nowMs, core_.calls.size()});
  if (core_.nowMs < failWaitsUntilMs_) return platform::InputWait::kFailed;
  const std::uint64_t until = core_.nowMs + milliseconds;
  if (unread_ < arrivals_.size() && arrivals_[unread_].first <= until) {
    core_.PassTime(std::max(arrivals_[unread_].first, core_.nowMs) - core_.nowMs);
    return platform::InputWait::kInputWaiting;
  }
  core_.PassTime(milliseconds);
  return platform::InputWait::kTimedOut;
}

std::vector<platform::ConsoleInputRecord> SimKeyboard::ReadConsoleRecords(
    platform::ConsoleInputHandle /*input*/) {
  std::vector<platform::ConsoleInputRecord> records;
  for (; records.size() < kRecordsPerRead && unread_ < arrivals_.size() &&
         arrivals_[unread_].first <= core_.nowMs;
       ++unread_) {
    records.push_back(arrivals_[unread_].second);
  }
  return records;
}

bool SimKeyboard::FlushConsoleInput(platform::ConsoleInputHandle input) {
  core_.calls.emplace_back(L"Keyboard.FlushConsoleInput");
  while (!ReadConsoleRecords(input).empty()) {
  }
  return true;
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
  core_.PassTime(milliseconds);
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
