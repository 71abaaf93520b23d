// Wide text to and from UTF-8, with bad input replaced rather than refused.
// The console writes redirected output with it, the telemetry its form body.
#pragma once

#include <string>
#include <string_view>

namespace platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The first unit of a surrogate pair: text cut right after one splits a
// character.
constexpr bool IsHighSurrogate(char32_t value) { return value >= 0xD800 && value < 0xDC00; }

// Turns wide text, which may arrive in pieces, into code points. Where wchar_t
// is 16 bits, a surrogate pair is one character, and it can be split across
// two pieces: a high surrogate at the end of a piece is held back until the
// next one. A surrogate without its partner becomes U+FFFD; where wchar_t is 32
// bits, every surrogate value does (such text holds code points, and a
// surrogate is none), as does any value beyond U+10FFFF.
class WideTextDecoder {
 public:
  void Decode(std::wstring_view text, std::u32string& out);
  // Ends the text: a high surrogate still held back becomes U+FFFD.
  void Finish(std::u32string& out);

 private:
  char32_t pendingHigh_ = 0;
};

void AppendUtf8(char32_t codePoint, std::string& out);
void AppendUtf16(char32_t codePoint, std::u16string& out);

// The UTF-8 bytes of `text` up to its first zero unit.
std::string EncodeUtf8(const wchar_t* text);

// Decodes UTF-8. Each malformed sequence (bad lead byte, missing or bad
// continuation, overlong form, surrogate, value above U+10FFFF) becomes one
// U+FFFD. Characters above U+FFFF become surrogate pairs where wchar_t is 16
// bits.
std::wstring DecodeUtf8(std::string_view bytes);

}  // namespace platform
