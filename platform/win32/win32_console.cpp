#include "platform/win32/win32_api.h"

#include <cstddef>

#include "platform/unique_handle.h"
#include "platform/utf8.h"
#include "platform/win32/win32_facilities.h"
#include "platform/write_whole.h"

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
  static_cast<void>(WriteWhole(
      text.data(), text.size(), kConsoleChunk,
      [this](const char16_t* data, std::size_t count) -> std::size_t {
        DWORD written = 0;
        return WriteConsoleW(output_, data, static_cast<DWORD>(count), &written, nullptr) ? written
                                                                                          : 0;
      },
      IsHighSurrogate));
}

void Win32ConsoleSink::WriteBytes(std::string_view bytes) {
  if (!NullOrAllBitsSetIsNone::Holds(output_)) return;
  const LastErrorKeeper keeper;
  static_cast<void>(WriteWhole(
      bytes.data(), bytes.size(), kFileChunk,
      [this](const char* data, std::size_t count) -> std::size_t {
        DWORD written = 0;
        return WriteFile(output_, data, static_cast<DWORD>(count), &written, nullptr) ? written : 0;
      }));
}

}  // namespace platform::win32
