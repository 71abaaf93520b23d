// Small text helpers that the simulated facilities share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// ASCII and Latin-1 letters in lower case: Windows compares paths, key paths
// and service names without regard to case.
std::wstring FoldCase(const std::wstring& text);

// True when `path` is `ancestor` itself or lies below it (both folded).
bool IsAtOrBelow(const std::wstring& path, const std::wstring& ancestor);

// "0x" and upper-case hexadecimal digits, as access masks are written.
std::wstring Hex(std::uint32_t value);

// `text` with every "{version}" replaced by the program's version as the
// build makes it, so that expected banners and bodies follow a version bump.
std::wstring WithVersion(std::wstring_view text);
std::string WithVersion(std::string_view text);

}  // namespace sim
