#include "run/prompt_keys.h"

#include <algorithm>
#include <utility>

#include "platform/ascii.h"

namespace run {

namespace {

using platform::ConsoleInputRecord;

// The most significant bit of a key state: down at the moment of the query.
bool IsDown(std::int16_t keyState) { return (static_cast<std::uint16_t>(keyState) & 0x8000U) != 0; }

// A held key repeats its key-down well within this many quiet passes (1.5 s):
// a key silent for longer is up, although its key-up never came (released
// while another window was in front, which got it instead).
constexpr int kQuietPassesUntilKeysAreUp = 15;

constexpr wchar_t kEscape = 0x1B;

// A character that typing puts in text: letters, digits, punctuation, space;
// not Enter, Tab, Escape or the other controls.
bool IsTyped(wchar_t c) { return c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0); }

// A record that carries a character rather than a key: a console that turns
// what a terminal sends into records without a key code (its input in the
// terminal's own mode), or an input method's VK_PACKET.
bool IsCharacterRecord(const ConsoleInputRecord& record) {
  return record.virtualKey == 0 || record.virtualKey == platform::kVirtualKeyPacket;
}

// The key of a letter, which is the upper-case letter's code; 0 for the rest.
int LetterKey(wchar_t c) {
  if (platform::IsAsciiLower(c)) return c - L'a' + L'A';
  if (platform::IsAsciiUpper(c)) return c;
  return 0;
}

}  // namespace

std::unique_ptr<PromptKeys> OpenPromptKeys(platform::Platform& platform) {
  platform::UniqueConsoleInput input(platform.keyboard, platform.keyboard.OpenConsoleInput());
  if (!input) return std::make_unique<KeyboardStateKeys>(platform);
  return std::make_unique<ConsoleKeys>(platform, std::move(input));
}

ConsoleKeys::ConsoleKeys(platform::Platform& platform, platform::UniqueConsoleInput input)
    : platform_(platform), input_(std::move(input)) {}

void ConsoleKeys::Begin(std::initializer_list<int> keys) {
  keys_.assign(keys);
  // Whatever the console holds was typed before the prompt appeared. Only the
  // keys it leaves down are kept in mind, so that their repeats do not count.
  static_cast<void>(TakeArrival(ReadWaiting()));
}

int ConsoleKeys::Next() {
  for (;;) {
    if (const int key = TakeArrival(Pass(kPollIntervalMs)); key != 0) return key;
  }
}

void ConsoleKeys::DiscardTyped(std::uint32_t waitMs) {
  // The key-up of a key typed at a prompt comes after the key-down that
  // counted; left in the console, the shell would read it. A key held longer
  // is not waited for.
  for (std::uint32_t waited = 0; down_.any() && waited < waitMs; waited += kPollIntervalMs) {
    static_cast<void>(TakeArrival(Pass(std::min(kPollIntervalMs, waitMs - waited))));
  }
  static_cast<void>(platform_.keyboard.FlushConsoleInput(input_.get()));
}

std::vector<ConsoleInputRecord> ConsoleKeys::ReadWaiting() {
  std::vector<ConsoleInputRecord> records;
  // One read hands back only so many records: a long paste takes several.
  for (std::vector<ConsoleInputRecord> more = platform_.keyboard.ReadConsoleRecords(input_.get());
       !more.empty(); more = platform_.keyboard.ReadConsoleRecords(input_.get())) {
    records.insert(records.end(), more.begin(), more.end());
  }
  return records;
}

std::vector<ConsoleInputRecord> ConsoleKeys::Pass(std::uint32_t milliseconds) {
  // Waiting costs nothing while nobody types, and a console may take in what
  // a terminal sends only while a program waits for it.
  switch (platform_.keyboard.WaitForConsoleInput(input_.get(), milliseconds)) {
    case platform::InputWait::kTimedOut:
      if (++quietPasses_ >= kQuietPassesUntilKeysAreUp) down_.reset();
      // An ESC that nothing followed for a whole pass was the Escape key.
      sequence_ = Sequence::kNone;
      return {};
    case platform::InputWait::kInputWaiting:
      if (std::vector<ConsoleInputRecord> records = ReadWaiting(); !records.empty()) {
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

int ConsoleKeys::TakeArrival(const std::vector<ConsoleInputRecord>& records) {
  // A paste (a right-click in a console window, Ctrl+V or a middle click in a
  // terminal) delivers its text as key records, all at once; a person's key
  // arrives alone, or with the Enter of a host that sends whole lines.
  int typed = 0;
  int pressed = 0;
  for (const ConsoleInputRecord& record : records) {
    if (record.kind == ConsoleInputRecord::Kind::kOther || TakeAsSequence(record)) continue;
    if (record.kind == ConsoleInputRecord::Kind::kKeyDown && IsTyped(record.character)) ++typed;
    const int key = TakeKey(record);
    if (pressed == 0 && std::find(keys_.begin(), keys_.end(), key) != keys_.end()) pressed = key;
  }
  return typed >= 2 ? 0 : pressed;
}

bool ConsoleKeys::TakeAsSequence(const ConsoleInputRecord& record) {
  // A terminal's sequences reach the console as characters without a key
  // code, one record each, where its input is in the terminal's own mode; a
  // key with its own code is never part of one.
  if (record.virtualKey != 0 || record.kind != ConsoleInputRecord::Kind::kKeyDown) return false;
  const wchar_t c = record.character;
  switch (sequence_) {
    case Sequence::kNone:
      if (c != kEscape) return false;
      sequence_ = Sequence::kEscape;
      return true;
    case Sequence::kEscape:
      // ESC [ and ESC O begin longer sequences; any other character after ESC
      // is Alt with that key.
      sequence_ = c == L'[' ? Sequence::kControl : c == L'O' ? Sequence::kOneMore : Sequence::kNone;
      return true;
    case Sequence::kControl:
      // Parameters and intermediates (space to '?') go on; the final character
      // ('@' to '~'), or anything that cannot belong, ends the sequence.
      if (c < 0x20 || c > 0x3F) sequence_ = Sequence::kNone;
      return true;
    case Sequence::kOneMore:
      sequence_ = Sequence::kNone;
      return true;
  }
  return false;
}

int ConsoleKeys::TakeKey(const ConsoleInputRecord& record) {
  quietPasses_ = 0;
  if (IsCharacterRecord(record)) {
    // A character has no key to hold: a terminal repeats a held key as typed
    // characters, each its own press, and sends no key-up at all.
    return record.kind == ConsoleInputRecord::Kind::kKeyDown ? LetterKey(record.character) : 0;
  }
  const int code = record.virtualKey;
  if (code < 0 || static_cast<std::size_t>(code) >= down_.size()) return 0;
  const auto key = static_cast<std::size_t>(code);
  const bool wasDown = down_.test(key);
  down_.set(key, record.kind == ConsoleInputRecord::Kind::kKeyDown);
  // A key held down repeats its key-down: one press.
  return !wasDown && down_.test(key) ? code : 0;
}

KeyboardStateKeys::KeyboardStateKeys(platform::Platform& platform) : platform_(platform) {}

void KeyboardStateKeys::Begin(std::initializer_list<int> keys) {
  keys_.assign(keys);
  nextKey_ = 0;
  // The answers are dropped: they take the "pressed since" bits of presses
  // made before the prompt; a key still held reads as pressed again.
  for (const int key : keys_) {
    static_cast<void>(platform_.keyboard.GetAsyncKeyState(key));
  }
}

int KeyboardStateKeys::Next() {
  for (;;) {
    while (nextKey_ < keys_.size()) {
      const int key = keys_[nextKey_++];
      if (TakePress(key)) return key;
    }
    nextKey_ = 0;
    platform_.clock.Sleep(kPollIntervalMs);
  }
}

bool KeyboardStateKeys::TakePress(int key) {
  const std::int16_t state = platform_.keyboard.GetAsyncKeyState(key);
  const auto index = static_cast<std::size_t>(key) & 0xFFU;
  // A key that counted counts again only once a query has seen it up: a
  // press lasts longer than a pass.
  const bool counted = counted_.test(index);
  counted_.set(index, IsDown(state));
  return !counted && state != 0;
}

}  // namespace run
