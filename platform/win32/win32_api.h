// The Windows headers, for the implementation files of this directory only.
//
// Several members of the platform interfaces carry the names of Windows API
// macros (GetFileAttributes, OpenService, ExitWindows ...). Those macros are
// removed here, after the Windows headers and before any interface header, so
// that the interfaces mean the same in every translation unit; the code here
// always calls the explicit wide-character functions.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

#include <windows.h>

#include <objbase.h>
#include <rpc.h>
#include <shellapi.h>
#include <wininet.h>

#include <functional>
#include <optional>
#include <vector>

#undef DeleteFile
#undef ExitWindows
#undef GetEnvironmentVariable
#undef GetFileAttributes
#undef InitiateShutdown
#undef LookupPrivilegeValue
#undef OpenSCManager
#undef OpenService
#undef SetFileAttributes

namespace platform::win32 {

// The one place where the platform's handles become the interfaces' opaque
// handle types and back: both are pointers to the same object.
template <typename Opaque, typename Native>
Opaque ToOpaque(Native handle) {
  return reinterpret_cast<Opaque>(handle);
}

template <typename Native, typename Opaque>
Native ToNative(Opaque handle) {
  return reinterpret_cast<Native>(handle);
}

// The entry `name` of `module`, as the function type it is known to have;
// null when the module or the entry is missing.
template <typename Function>
Function EntryOf(HMODULE module, const char* name) {
  const FARPROC entry = module == nullptr ? nullptr : GetProcAddress(module, name);
  // Through the generic function pointer type, which converts to any other.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

// Looks up an entry by name in a module that the process has already loaded.
// Done afresh on every use, never cached: these entries exist on some
// Windows and not on others, and asking costs nothing.
template <typename Function>
Function LookUpEntry(const wchar_t* module, const char* name) {
  return EntryOf<Function>(GetModuleHandleW(module), name);
}

// Starts `task` on a new thread that frees it when done. The thread's handle,
// for the caller to close; null, with nothing run, when none was started.
HANDLE StartTaskThread(std::function<void()> task);

// The TOKEN_USER of a process's token, in a buffer of the size it needs.
std::optional<std::vector<BYTE>> TokenUserOf(HANDLE process);
// The user's SID in such a buffer.
PSID SidOf(std::vector<BYTE>& tokenUser);

}  // namespace platform::win32
