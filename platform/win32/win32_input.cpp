#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

std::int16_t Win32Keyboard::GetAsyncKeyState(int virtualKey) {
  return ::GetAsyncKeyState(virtualKey);
}

bool Win32Keyboard::StandardInputIsConsole() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  return input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode) != FALSE;
}

bool Win32Keyboard::FlushConsoleInput() {
  return FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE)) != FALSE;
}

WindowHandle Win32Keyboard::ConsoleWindow() { return ToOpaque<WindowHandle>(GetConsoleWindow()); }

WindowHandle Win32Keyboard::ForegroundWindow() {
  return ToOpaque<WindowHandle>(GetForegroundWindow());
}

WindowHandle Win32Keyboard::RootOwner(WindowHandle window) {
  return ToOpaque<WindowHandle>(GetAncestor(ToNative<HWND>(window), GA_ROOTOWNER));
}

void Win32Clock::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform::win32
