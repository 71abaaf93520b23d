// The keys typed to the process, and the passing of time.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/unique_handle.h"

namespace platform {

struct ConsoleInputTag;
// The input buffer of this process's console.
using ConsoleInputHandle = ConsoleInputTag*;

// One record of a console's input, as far as keys go.
struct ConsoleInputRecord {
  enum class Kind { kKeyDown, kKeyUp, kOther };
  Kind kind = Kind::kOther;
  int virtualKey = 0;     // of a key record; 0 when the console gives none
  wchar_t character = 0;  // of a key record: what the key typed, if anything
};

// VK_PACKET: the key code of a character that an input method typed (an
// on-screen or touch keyboard, handwriting, voice typing) rather than a key.
inline constexpr int kVirtualKeyPacket = 0xE7;

// How a bounded wait on the console's input ended.
enum class InputWait { kInputWaiting, kTimedOut, kFailed };

class Keyboard {
 public:
  virtual ~Keyboard() = default;

  // GetAsyncKeyState(virtualKey): non-zero when the key is down now or has been
  // pressed since the previous query. The whole desktop's keyboard, whatever
  // window is in front.
  [[nodiscard]] virtual std::int16_t GetAsyncKeyState(int virtualKey) = 0;

  // CreateFileW("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ |
  // FILE_SHARE_WRITE, OPEN_EXISTING): the input of this process's console,
  // whether or not standard input is redirected; no handle when the process
  // has no console (started detached), see UniqueConsoleInput.
  [[nodiscard]] virtual ConsoleInputHandle OpenConsoleInput() = 0;
  [[nodiscard]] virtual bool CloseConsoleInput(ConsoleInputHandle input) = 0;
  // WaitForSingleObject(input, milliseconds): returns as soon as a record is
  // waiting to be read.
  [[nodiscard]] virtual InputWait WaitForConsoleInput(ConsoleInputHandle input,
                                                      std::uint32_t milliseconds) = 0;
  // The records waiting, in the order they came (GetNumberOfConsoleInputEvents,
  // then ReadConsoleInputW for no more than that, and no more than 64 at a
  // time): never blocks. Empty when none wait or reading fails.
  [[nodiscard]] virtual std::vector<ConsoleInputRecord> ReadConsoleRecords(
      ConsoleInputHandle input) = 0;
  // FlushConsoleInputBuffer.
  [[nodiscard]] virtual bool FlushConsoleInput(ConsoleInputHandle input) = 0;
};

// The console's input, opened by this process; CreateFileW fails with
// INVALID_HANDLE_VALUE.
using UniqueConsoleInput =
    UniqueAny<ConsoleInputHandle, FacilityCloser<Keyboard, &Keyboard::CloseConsoleInput>,
              NullOrAllBitsSetIsNone>;

}  // namespace platform
