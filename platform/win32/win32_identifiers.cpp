#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {

std::wstring Win32Identifiers::CreateUuidString() {
  // The statuses are not examined: whatever the calls produce is the identifier.
  UUID uuid{};
  UuidCreate(&uuid);
  RPC_WSTR text = nullptr;
  UuidToStringW(&uuid, &text);
  if (text == nullptr) return {};
  std::wstring result(reinterpret_cast<const wchar_t*>(text));
  RpcStringFreeW(&text);
  return result;
}

}  // namespace platform::win32
