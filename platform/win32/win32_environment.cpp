#include "platform/win32/win32_api.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

std::optional<std::wstring> Win32Environment::GetEnvironmentVariable(const std::wstring& name) {
  // The runtime's copy of the environment, copied out at once. (_wdupenv_s
  // would do the same, but the msvcrt import library of mingw-w64 lacks it.)
  const wchar_t* value = _wgetenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::wstring(value);
}

}  // namespace platform::win32
