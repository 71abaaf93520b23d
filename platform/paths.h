// Windows paths as the tool takes them apart and puts them together: plain
// text, no call to the system.
#pragma once

#include <string>
#include <string_view>

namespace platform::paths {

// Both separators Windows accepts.
bool IsSeparator(wchar_t c);

// `path` without the separators at its end.
std::wstring WithoutTrailingSeparators(std::wstring path);

// `name` inside `directory`, with one separator between them.
std::wstring Join(const std::wstring& directory, const std::wstring& name);

// Equal letter for letter, ASCII letters without regard to case, separators
// alike. For names that are ASCII by construction; names a user chose are
// compared by the file system (FileSystem::EqualIgnoringCase).
bool EqualIgnoringAsciiCase(std::wstring_view left, std::wstring_view right);

// "X:\..." or "\\server\share\...": a path of the file system's own names.
// Anything else ("\\?\..." and "\\.\..." paths, and through them the object
// manager's namespace) reaches past them.
bool IsDriveOrUncPath(std::wstring_view path);

// `path` (a full drive or UNC path with backslashes) in the verbatim form,
// "\\?\C:\x" or "\\?\UNC\server\share\x", which the system takes as it is:
// no trailing dot or space dropped, no device name such as "nul" read into a
// name, no MAX_PATH limit. Any other path as it is.
std::wstring Verbatim(const std::wstring& path);

// A verbatim path in the form programs are given paths: "\\?\C:\x" as "C:\x",
// "\\?\UNC\server\share" as "\\server\share"; any other path as it is.
std::wstring WithoutVerbatimPrefix(std::wstring_view path);

// A 32-bit process on 64-bit Windows that names the native system directory
// lands in SysWOW64 while redirection is on; it reaches the native one
// through this alias, which exists only for such processes. `path` with the
// native system directory named through the alias; any other path as it is.
std::wstring ThroughNativeSystemAlias(const std::wstring& path);

}  // namespace platform::paths
