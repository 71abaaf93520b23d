#include "platform/win32/win32_dll_search.h"

#include "platform/win32/win32_api.h"

namespace platform::win32 {

bool RestrictDllSearchToSystem() {
  // Looked up rather than imported: an import that Windows lacks would keep
  // the tool from starting at all.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto setDefault =
      LookUpEntry<SetDefaultDllDirectoriesFunction>(L"kernel32", "SetDefaultDllDirectories");
  return setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

}  // namespace platform::win32
