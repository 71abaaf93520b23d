#include "platform/win32/win32_api.h"

#include <algorithm>

#include "platform/unique_handle.h"
#include "platform/utf8.h"
#include "platform/win32/win32_facilities.h"

namespace platform::win32 {
namespace {

// Keeps each console write well below the limits that older consoles put on
// a single call.
constexpr std::size_t kConsoleChunk = 8192;
constexpr std::size_t kFileChunk = 65536;

// Restores the thread's last error when the write is done.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(saved_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD saved_;
};

}  // namespace

Win32ConsoleSink::Win32ConsoleSink() : output_(GetStdHandle(STD_OUTPUT_HANDLE)) {
  const LastErrorKeeper keeper;
  DWORD mode = 0;
  consoleWindow_ =
      NullOrAllBitsSetIsNone::Holds(output_) && GetConsoleMode(output_, &mode) != FALSE;
}

bool Win32ConsoleSink::IsConsoleWindow() { return consoleWindow_; }

void Win32ConsoleSink::WriteText(std::u16string_view text) {
  const LastErrorKeeper keeper;
  while (!text.empty()) {
    std::size_t count = std::min(text.size(), kConsoleChunk);
    // Never split a surrogate pair between two calls.
    if (count < text.size() && IsHighSurrogate(text[count - 1])) --count;
    DWORD written = 0;
    if (!WriteConsoleW(output_, text.data(), static_cast<DWORD>(count), &written, nullptr) ||
        written == 0) {
      return;
    }
    text.remove_prefix(std::min<std::size_t>(written, text.size()));
  }
}

void Win32ConsoleSink::WriteBytes(std::string_view bytes) {
  if (!NullOrAllBitsSetIsNone::Holds(output_)) return;
  const LastErrorKeeper keeper;
  while (!bytes.empty()) {
    const std::size_t count = std::min(bytes.size(), kFileChunk);
    DWORD written = 0;
    if (!WriteFile(output_, bytes.data(), static_cast<DWORD>(count), &written, nullptr) ||
        written == 0) {
      return;
    }
    bytes.remove_prefix(std::min<std::size_t>(written, bytes.size()));
  }
}

}  // namespace platform::win32
