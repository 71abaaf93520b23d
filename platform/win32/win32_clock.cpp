#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

void Win32Clock::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform::win32
