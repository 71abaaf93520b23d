// UTF-8 to and from wide text, with bad input replaced rather than refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace telemetry {

inline constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

// The UTF-8 bytes of `text` up to its first zero unit. Where wchar_t is 16
// bits, a surrogate pair is one character and a lone surrogate becomes
// U+FFFD; where it is 32 bits, a surrogate or a value above U+10FFFF does.
std::string EncodeUtf8(const wchar_t* text);

// Decodes UTF-8. Each malformed sequence (bad lead byte, missing or bad
// continuation, overlong form, surrogate, value above U+10FFFF) becomes one
// U+FFFD. Characters above U+FFFF become surrogate pairs where wchar_t is 16
// bits.
std::wstring DecodeUtf8(std::string_view bytes);

}  // namespace telemetry
