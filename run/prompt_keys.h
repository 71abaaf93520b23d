// Where the prompts' keys come from: the tool's own console, or, for a tool
// started without one, the desktop's keyboard state.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/platform.h"

namespace run {

// One pass of a prompt: the longest wait on the console's input, or the pause
// between two readings of the keyboard state.
inline constexpr std::uint32_t kPollIntervalMs = 100;
// How long the end of the run waits for a key still held to be released.
inline constexpr std::uint32_t kKeyReleaseWaitMs = 1000;

// The keys of the run's prompts, one reader per run.
class PromptKeys {
 public:
  PromptKeys() = default;
  PromptKeys(const PromptKeys&) = delete;
  PromptKeys& operator=(const PromptKeys&) = delete;
  PromptKeys(PromptKeys&&) = delete;
  PromptKeys& operator=(PromptKeys&&) = delete;
  virtual ~PromptKeys() = default;

  // A prompt that reads `keys` starts; called before the prompt is written, so
  // that presses made before it appeared do not count and one made as it
  // appears does.
  virtual void Begin(std::initializer_list<int> keys) = 0;
  // Waits, in passes of 100 ms, for the next press of one of the prompt's keys
  // and returns its virtual-key code.
  [[nodiscard]] virtual int Next() = 0;
  // The end of the run: waits, at most `waitMs`, for the keys typed at the
  // prompts to come up, then empties the console's input, so that nothing
  // typed at the tool reaches the shell that started it.
  virtual void DiscardTyped(std::uint32_t waitMs) = 0;
};

// A process with a console reads its own console's input: only what is typed
// into its window or its terminal (a remote shell's included) reaches it.
// Started without a console (detached), it reads the desktop's keyboard state.
std::unique_ptr<PromptKeys> OpenPromptKeys(platform::Platform& platform);

// The console's input. A key counts when its key-down arrives, once, however
// long it is held; only a deliberate key answers: what arrives together with
// other typed characters (a paste), a terminal's escape sequence (an arrow,
// a function key, Alt with a key) and any other key count for nothing. A
// letter from an input method other than the keyboard counts as its key.
class ConsoleKeys final : public PromptKeys {
 public:
  ConsoleKeys(platform::Platform& platform, platform::UniqueConsoleInput input);

  void Begin(std::initializer_list<int> keys) override;
  [[nodiscard]] int Next() override;
  void DiscardTyped(std::uint32_t waitMs) override;

 private:
  // Where a terminal's escape sequence stands: ESC, ESC [ and its parameters,
  // ESC O, which takes one more character.
  enum class Sequence { kNone, kEscape, kControl, kOneMore };

  // Everything waiting in the console, over as many reads as it takes: what
  // arrived together.
  std::vector<platform::ConsoleInputRecord> ReadWaiting();
  // One pass: waits for input, at most `milliseconds`, and reads what came.
  std::vector<platform::ConsoleInputRecord> Pass(std::uint32_t milliseconds);
  // Takes in what arrived together: the prompt key of the deliberate press
  // among it, or 0.
  int TakeArrival(const std::vector<platform::ConsoleInputRecord>& records);
  // Takes in the record when it belongs to a terminal's escape sequence.
  bool TakeAsSequence(const platform::ConsoleInputRecord& record);
  // Takes in a key record: the key it newly puts down, or 0.
  int TakeKey(const platform::ConsoleInputRecord& record);

  platform::Platform& platform_;
  platform::UniqueConsoleInput input_;
  std::vector<int> keys_;
  // Keys seen down and not up since, by virtual-key code.
  std::bitset<256> down_;
  Sequence sequence_ = Sequence::kNone;
  // Passes that timed out since the last key record.
  int quietPasses_ = 0;
};

// The desktop's keyboard state (GetAsyncKeyState), polled every 100 ms; where
// several keys are down in one pass, the order of the prompt's keys decides.
class KeyboardStateKeys final : public PromptKeys {
 public:
  explicit KeyboardStateKeys(platform::Platform& platform);

  void Begin(std::initializer_list<int> keys) override;
  [[nodiscard]] int Next() override;
  void DiscardTyped(std::uint32_t /*waitMs*/) override {}

 private:
  // Queries the key: true when it reads as pressed and has not counted
  // already since it was last seen up.
  bool TakePress(int key);

  platform::Platform& platform_;
  std::vector<int> keys_;
  // Keys that counted and have not been seen up since.
  std::bitset<256> counted_;
  // The place of the next key in the current pass.
  std::size_t nextKey_ = 0;
};

}  // namespace run
