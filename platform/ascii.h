// ASCII's letters and decimal digits, told and written by their codes: the
// runtime's classification and formatting follow the C locale, and a letter in
// a path, a key or a form field must not change with it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr bool IsAsciiUpper(wchar_t c) { return c >= L'A' && c <= L'Z'; }
constexpr bool IsAsciiLower(wchar_t c) { return c >= L'a' && c <= L'z'; }
constexpr bool IsAsciiLetter(wchar_t c) { return IsAsciiUpper(c) || IsAsciiLower(c); }

// Decimal text of an integer, with a minus sign only for a negative value.
std::wstring FormatInt64(std::int64_t value);

}  // namespace platform
