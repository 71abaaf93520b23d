#include "run/console_prompts.h"

#include <algorithm>

#include "run/agreement_display.h"

namespace run {

namespace {

using platform::ConsoleInputRecord;

// The most significant bit of a key state: down at the moment of the query.
bool IsDown(std::int16_t keyState) { return (static_cast<std::uint16_t>(keyState) & 0x8000U) != 0; }

// A held key repeats its key-down well within this many quiet passes (1.5 s):
// a key silent for longer is up, although its key-up never came (released
// while another window was in front, which got it instead).
constexpr int kQuietPassesUntilKeysAreUp = 15;

// The key of a console record. A console that turns what a terminal sends
// into records without a key code (its input in the terminal's own mode)
// still gives the letter, whose key is the upper-case letter's code.
int KeyOf(const ConsoleInputRecord& record) {
  if (record.virtualKey != 0) return record.virtualKey;
  const wchar_t c = record.character;
  if (c >= L'a' && c <= L'z') return c - L'a' + L'A';
  if (c >= L'A' && c <= L'Z') return c;
  return 0;
}

}  // namespace

PromptKeys::PromptKeys(platform::Platform& platform)
    : platform_(platform), input_(platform.keyboard, platform.keyboard.OpenConsoleInput()) {}

void PromptKeys::Begin(std::initializer_list<int> keys) {
  keys_.assign(keys);
  nextKey_ = 0;
  if (!input_) {
    // The answers are dropped: a key still held reads as pressed again.
    for (const int key : keys_) {
      static_cast<void>(platform_.keyboard.GetAsyncKeyState(key));
    }
    return;
  }
  // Whatever the console holds was typed before the prompt appeared. Only the
  // keys it leaves down are kept in mind, so that their repeats do not count.
  do {
    NoteTheRest();
    records_ = platform_.keyboard.ReadConsoleRecords(input_.get());
  } while (!records_.empty());
}

int PromptKeys::Next() {
  for (;;) {
    if (!input_) {
      while (nextKey_ < keys_.size()) {
        const int key = keys_[nextKey_++];
        if (PressedInKeyboardState(key)) return key;
      }
      nextKey_ = 0;
      platform_.clock.Sleep(kPollIntervalMs);
      continue;
    }
    while (next_ < records_.size()) {
      const ConsoleInputRecord& record = records_[next_++];
      const int key = KeyOf(record);
      if (Pressed(record) && std::find(keys_.begin(), keys_.end(), key) != keys_.end()) {
        return key;
      }
    }
    records_ = Pass(kPollIntervalMs);
    next_ = 0;
  }
}

void PromptKeys::DiscardTyped(std::uint32_t waitMs) {
  if (!input_) return;
  // The key-up of a key typed at a prompt comes after the key-down that
  // counted; left in the console, the shell would read it. A key held longer
  // is not waited for.
  NoteTheRest();
  for (std::uint32_t waited = 0; down_.any() && waited < waitMs; waited += kPollIntervalMs) {
    records_ = Pass(std::min(kPollIntervalMs, waitMs - waited));
    NoteTheRest();
  }
  static_cast<void>(platform_.keyboard.FlushConsoleInput(input_.get()));
}

bool PromptKeys::Pressed(const ConsoleInputRecord& record) {
  const int code = KeyOf(record);
  if (record.kind == ConsoleInputRecord::Kind::kOther || code <= 0 ||
      static_cast<std::size_t>(code) >= down_.size()) {
    return false;
  }
  quietPasses_ = 0;
  const auto key = static_cast<std::size_t>(code);
  const bool wasDown = down_.test(key);
  down_.set(key, record.kind == ConsoleInputRecord::Kind::kKeyDown);
  // A key held down repeats its key-down: one press.
  return !wasDown && down_.test(key);
}

void PromptKeys::NoteTheRest() {
  for (; next_ < records_.size(); ++next_) {
    static_cast<void>(Pressed(records_[next_]));
  }
  records_.clear();
  next_ = 0;
}

std::vector<ConsoleInputRecord> PromptKeys::Pass(std::uint32_t milliseconds) {
  platform::Keyboard& keyboard = platform_.keyboard;
  // Waiting costs nothing while nobody types, and a console may take in what
  // a terminal sends only while a program waits for it.
  switch (keyboard.WaitForConsoleInput(input_.get(), milliseconds)) {
    case platform::InputWait::kTimedOut:
      if (++quietPasses_ >= kQuietPassesUntilKeysAreUp) down_.reset();
      return {};
    case platform::InputWait::kInputWaiting:
      if (std::vector<ConsoleInputRecord> records = keyboard.ReadConsoleRecords(input_.get());
          !records.empty()) {
        return records;
      }
      break;
    case platform::InputWait::kFailed:
      break;
  }
  // An input that cannot be waited for or read must not turn the prompt into
  // a busy loop.
  platform_.clock.Sleep(milliseconds);
  return {};
}

bool PromptKeys::PressedInKeyboardState(int key) {
  const std::int16_t state = platform_.keyboard.GetAsyncKeyState(key);
  const auto index = static_cast<std::size_t>(key) & 0xFFU;
  // A key that counted counts again only once a query has seen it up: a
  // press lasts longer than a pass.
  const bool counted = down_.test(index);
  down_.set(index, IsDown(state));
  return !counted && state != 0;
}

bool AgreementPrompt(platform::Platform& platform, PromptKeys& keys, AgreementPage& page) {
  platform::Console& out = platform.console;
  out << platform::endl << "Press one of the following keys:" << platform::endl;
  out << "  'A' to accept the EULA" << platform::endl;
  out << "  'E' to exit the tool" << platform::endl;
  out << "  'D' to display the EULA in the browser" << platform::endl;

  keys.Begin({kKeyE, kKeyA, kKeyD});
  for (int key = keys.Next(); key != kKeyA; key = keys.Next()) {
    if (key == kKeyE) {
      return false;
    }
    page.Show();
  }
  return true;
}

void ExitKeyWait(platform::Platform& platform, PromptKeys& keys) {
  platform.console << platform::endl << "Press the 'E' key to exit the tool." << platform::endl;

  keys.Begin({kKeyE});
  static_cast<void>(keys.Next());
}

void TelemetryWait(platform::Platform& platform) {
  platform::Console& out = platform.console;
  // The console writer holds nothing back: the dots show one by one, as
  // they are written.
  out << "Sending telemetry ";
  for (int step = 0; step < kTelemetryWaitSteps; ++step) {
    platform.clock.Sleep(kTelemetryWaitStepMs);
    out << ".";
  }
  out << platform::endl;
}

}  // namespace run
