// Where the process may load DLLs from. This header does not include
// <windows.h>.
#pragma once

namespace platform::win32 {

// Makes the system directory the only place that DLLs loaded from now on,
// and the DLLs they load in turn, are searched for: never the exe's own
// folder (usually a downloads folder) nor the current directory. Call it
// before anything loads a DLL that is not a KnownDLL. False where Windows
// lacks the call (Windows 7 without KB2533623); the search stays as it was.
bool RestrictDllSearchToSystem();

}  // namespace platform::win32
