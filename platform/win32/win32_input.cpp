#include "platform/win32/win32_api.h"

#include <algorithm>
#include <array>

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

std::int16_t Win32Keyboard::GetAsyncKeyState(int virtualKey) {
  return ::GetAsyncKeyState(virtualKey);
}

ConsoleInputHandle Win32Keyboard::OpenConsoleInput() {
  return ToOpaque<ConsoleInputHandle>(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
}

bool Win32Keyboard::CloseConsoleInput(ConsoleInputHandle input) {
  return ::CloseHandle(ToNative<HANDLE>(input)) != FALSE;
}

InputWait Win32Keyboard::WaitForConsoleInput(ConsoleInputHandle input, std::uint32_t milliseconds) {
  switch (WaitForSingleObject(ToNative<HANDLE>(input), milliseconds)) {
    case WAIT_OBJECT_0:
      return InputWait::kInputWaiting;
    case WAIT_TIMEOUT:
      return InputWait::kTimedOut;
    default:
      return InputWait::kFailed;
  }
}

std::vector<ConsoleInputRecord> Win32Keyboard::ReadConsoleRecords(ConsoleInputHandle input) {
  auto* const handle = ToNative<HANDLE>(input);
  std::vector<ConsoleInputRecord> records;
  DWORD waiting = 0;
  // ReadConsoleInputW waits for a record when none is there.
  if (!GetNumberOfConsoleInputEvents(handle, &waiting) || waiting == 0) return records;
  std::array<INPUT_RECORD, 64> buffer{};
  DWORD read = 0;
  const auto wanted = static_cast<DWORD>(std::min<std::size_t>(waiting, buffer.size()));
  if (!ReadConsoleInputW(handle, buffer.data(), wanted, &read)) return records;
  for (DWORD i = 0; i < read && i < buffer.size(); ++i) {
    const INPUT_RECORD& record = buffer[i];
    if (record.EventType != KEY_EVENT) {
      records.push_back({});
      continue;
    }
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    records.push_back(
        {key.bKeyDown ? ConsoleInputRecord::Kind::kKeyDown : ConsoleInputRecord::Kind::kKeyUp,
         key.wVirtualKeyCode, key.uChar.UnicodeChar});
  }
  return records;
}

bool Win32Keyboard::FlushConsoleInput(ConsoleInputHandle input) {
  return FlushConsoleInputBuffer(ToNative<HANDLE>(input)) != FALSE;
}

}  // namespace platform::win32
