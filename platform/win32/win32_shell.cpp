#include "platform/win32/win32_api.h"

#include <cstdlib>

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {
namespace {

// Integer resource types and ids travel in the low word of a pointer, and 0
// is no id at all.
bool IsIntegerResource(int value) { return value >= 1 && value <= 0xFFFF; }

// An integer resource type or id in the form the resource calls take.
const wchar_t* IntegerResource(int value) {
  // An integer resource id travels in the low word of a pointer by design.
  // cppcheck-suppress CastIntegerToAddressAtReturn
  return MAKEINTRESOURCEW(static_cast<WORD>(value));
}

}  // namespace

Win32Shell::Win32Shell() {
  // Shell extensions that "open" may start are COM objects and expect a
  // single-threaded apartment; a thread that already has one keeps it.
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  comInitialized_ = SUCCEEDED(result);
}

Win32Shell::~Win32Shell() {
  if (comInitialized_) CoUninitialize();
}

std::optional<std::wstring> Win32Shell::GetEnvironmentVariable(const std::wstring& name) {
  // The runtime's copy of the environment, copied out at once. (_wdupenv_s
  // would do the same, but the msvcrt import library of mingw-w64 lacks it.)
  const wchar_t* value = _wgetenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::wstring(value);
}

std::optional<ResourceBytes> Win32Shell::FindProgramResource(int type, int id) {
  // Cut to a word, a value outside the range would name another resource.
  if (!IsIntegerResource(type) || !IsIntegerResource(id)) return std::nullopt;
  const HMODULE self = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceW(self, IntegerResource(id), IntegerResource(type));
  if (found == nullptr) return std::nullopt;
  const HGLOBAL loaded = LoadResource(self, found);
  if (loaded == nullptr) return std::nullopt;
  const DWORD size = SizeofResource(self, found);
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr) return std::nullopt;
  return ResourceBytes{static_cast<const std::uint8_t*>(bytes), size};
}

bool Win32Shell::OpenDocument(const std::wstring& path, int showCommand) {
  const HINSTANCE result =
      ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, showCommand);
  // Values above 32 mean success; the rest are error codes in a handle's clothes.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace platform::win32
