#include "platform/win32/win32_api.h"

#include <cstdint>
#include <optional>

#include "platform/win32/win32_facilities.h"

namespace platform::win32 {
namespace {

// Integer resource types and ids travel in the low word of a pointer, and 0
// is no id at all.
bool IsIntegerResource(int value) { return value >= 1 && value <= 0xFFFF; }

// An integer resource type or id in the form the resource calls take.
const wchar_t* IntegerResource(int value) {
  // cppcheck-suppress CastIntegerToAddressAtReturn
  return MAKEINTRESOURCEW(static_cast<WORD>(value));
}

}  // namespace

std::optional<ResourceBytes> Win32ProgramResources::FindProgramResource(int type, int id) {
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

}  // namespace platform::win32
