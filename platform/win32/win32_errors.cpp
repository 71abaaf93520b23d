#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

std::uint32_t Win32SystemErrors::GetLastError() { return ::GetLastError(); }

std::optional<std::wstring> Win32SystemErrors::FormatSystemMessage(std::uint32_t code) {
  constexpr DWORD kFlags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  constexpr DWORD kLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

  // With ALLOCATE_BUFFER the system stores a pointer to its own buffer where
  // the buffer argument points.
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(kFlags, nullptr, code, kLanguage,
                                      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (text == nullptr) return std::nullopt;
  std::wstring message(text, length);
  LocalFree(text);
  return message;
}

}  // namespace platform::win32
