// Presses keys for the tool under test, as a person at the keyboard would.
//
//   e2e-keys.exe [--hold MS] KEYS
//   e2e-keys.exe --front CLASS
//
// --front brings the top-level window of that class to the front, as a click
// on it does under a window manager (Wine without one leaves its desktop in
// front when the X focus moves). KEYS is a string of letters (e.g. "A" or "NE"); each is pressed, held for MS
// milliseconds (default 400) and released, one after the other. The hold
// matters: the tool polls every 100 ms and ignores a press made before its
// prompt was written, so a tap between two polls could go unseen, while a key
// that is still down always reads as pressed.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

bool Send(WORD virtualKey, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return SendInput(1, &input, sizeof input) == 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  DWORD holdMs = 400;
  std::wstring keys;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--front" && i + 1 < argc) {
      const HWND window = FindWindowW(argv[i + 1], nullptr);
      return window != nullptr && SetForegroundWindow(window) ? 0 : 1;
    }
    if (arg == L"--hold" && i + 1 < argc) {
      holdMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
    } else {
      keys += arg;
    }
  }
  if (keys.empty()) {
    std::fwprintf(stderr, L"usage: e2e-keys.exe [--hold MS] KEYS\n");
    return 2;
  }
  for (wchar_t key : keys) {
    if (!std::iswalnum(static_cast<wint_t>(key))) {
      std::fwprintf(stderr, L"not a letter or digit: %lc\n", static_cast<wint_t>(key));
      return 2;
    }
    // The virtual-key code of a letter is its upper-case character.
    const auto virtualKey = static_cast<WORD>(std::towupper(static_cast<wint_t>(key)));
    if (!Send(virtualKey, false)) return 1;
    Sleep(holdMs);
    if (!Send(virtualKey, true)) return 1;
  }
  return 0;
}
