// What WOW64 does to the file system of a 32-bit process on 64-bit Windows,
// beside the redirection calls (FileSystem) and the question whether the
// process runs under it (ProcessInfo).
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// With redirection on, such a process that names the native system directory
// lands in SysWOW64; it reaches the native one through this alias, which
// exists only for 32-bit processes, and only while redirection is on.
inline constexpr std::wstring_view kSystemDirectoryOnDrive = L":\\Windows\\System32";
inline constexpr std::wstring_view kNativeSystemAliasOnDrive = L":\\Windows\\Sysnative";

// `path` with the native system directory named through the alias, so that a
// call made with redirection on reaches what the same call reaches with it
// off; any other path as it is. Windows compares these names without regard to
// case, and both are plain ASCII.
inline std::wstring ThroughNativeSystemAlias(const std::wstring& path) {
  const std::size_t end = 1 + kSystemDirectoryOnDrive.size();
  if (path.size() < end || (path.size() > end && path[end] != L'\\')) {
    return path;
  }
  const auto sameLetter = [](wchar_t a, wchar_t b) {
    const auto fold = [](wchar_t unit) {
      return unit >= L'A' && unit <= L'Z' ? static_cast<wchar_t>(unit - L'A' + L'a') : unit;
    };
    return fold(a) == fold(b);
  };
  if (!std::equal(kSystemDirectoryOnDrive.begin(), kSystemDirectoryOnDrive.end(), path.begin() + 1,
                  sameLetter)) {
    return path;
  }
  return path.substr(0, 1) + std::wstring(kNativeSystemAliasOnDrive) + path.substr(end);
}

}  // namespace platform
