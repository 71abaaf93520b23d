#include "platform/utf8.h"

#include <cstdint>

namespace platform {
namespace {

constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;
constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kLowSurrogateLast = 0xDFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;

bool IsLowSurrogate(char32_t value) {
  return value >= kLowSurrogateFirst && value <= kLowSurrogateLast;
}

// The unit's value without sign extension, whatever the width of wchar_t.
char32_t UnitValue(wchar_t unit) {
  if constexpr (kWideIsUtf16) {
    return static_cast<char32_t>(static_cast<std::uint16_t>(unit));
  } else {
    return static_cast<char32_t>(static_cast<std::uint32_t>(unit));
  }
}

char ByteOf(char32_t value) { return static_cast<char>(static_cast<unsigned char>(value)); }

// Appends a code point as UTF-16 units to `out` (a u16string, or a wstring
// where wchar_t is 16 bits): one unit, or a surrogate pair above U+FFFF.
template <typename Text>
void AppendUnits(char32_t codePoint, Text& out) {
  using Unit = typename Text::value_type;
  if (codePoint < 0x10000) {
    out.push_back(static_cast<Unit>(codePoint));
  } else {
    const char32_t offset = codePoint - 0x10000;
    out.push_back(static_cast<Unit>(kHighSurrogateFirst + (offset >> 10)));
    out.push_back(static_cast<Unit>(kLowSurrogateFirst + (offset & 0x3FF)));
  }
}

void AppendWide(char32_t codePoint, std::wstring& out) {
  if constexpr (kWideIsUtf16) {
    AppendUnits(codePoint, out);
  } else {
    out.push_back(static_cast<wchar_t>(codePoint));
  }
}

}  // namespace

void WideTextDecoder::Decode(std::wstring_view text, std::u32string& out) {
  for (const wchar_t unit : text) {
    const char32_t value = UnitValue(unit);
    if (pendingHigh_ != 0) {
      const char32_t high = pendingHigh_;
      pendingHigh_ = 0;
      if (IsLowSurrogate(value)) {
        out.push_back(0x10000 + ((high - kHighSurrogateFirst) << 10) +
                      (value - kLowSurrogateFirst));
        continue;
      }
      out.push_back(kReplacementCharacter);
    }
    if (kWideIsUtf16 && IsHighSurrogate(value)) {
      pendingHigh_ = value;
    } else if (IsHighSurrogate(value) || IsLowSurrogate(value) || value > kLastCodePoint) {
      out.push_back(kReplacementCharacter);
    } else {
      out.push_back(value);
    }
  }
}

void WideTextDecoder::Finish(std::u32string& out) {
  if (pendingHigh_ != 0) {
    pendingHigh_ = 0;
    out.push_back(kReplacementCharacter);
  }
}

void AppendUtf8(char32_t codePoint, std::string& out) {
  if (codePoint < 0x80) {
    out.push_back(ByteOf(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(ByteOf(0xC0 | (codePoint >> 6)));
    out.push_back(ByteOf(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(ByteOf(0xE0 | (codePoint >> 12)));
    out.push_back(ByteOf(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(ByteOf(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(ByteOf(0xF0 | (codePoint >> 18)));
    out.push_back(ByteOf(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(ByteOf(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(ByteOf(0x80 | (codePoint & 0x3F)));
  }
}

void AppendUtf16(char32_t codePoint, std::u16string& out) { AppendUnits(codePoint, out); }

std::string EncodeUtf8(const wchar_t* text) {
  std::string out;
  if (text == nullptr) return out;
  std::u32string codePoints;
  WideTextDecoder decoder;
  decoder.Decode(text, codePoints);
  decoder.Finish(codePoints);
  out.reserve(codePoints.size());
  for (const char32_t codePoint : codePoints) AppendUtf8(codePoint, out);
  return out;
}

std::wstring DecodeUtf8(std::string_view bytes) {
  std::wstring out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    // Length of the sequence and the allowed range of its second byte; the
    // narrowed ranges exclude overlong forms, surrogates and values past
    // U+10FFFF.
    std::size_t length = 0;
    unsigned char secondMin = 0x80;
    unsigned char secondMax = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) secondMin = 0xA0;
      if (lead == 0xED) secondMax = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) secondMin = 0x90;
      if (lead == 0xF4) secondMax = 0x8F;
    } else {
      AppendWide(kReplacementCharacter, out);
      ++i;
      continue;
    }
    char32_t codePoint = lead & (0xFFu >> (length + 1));
    std::size_t used = 1;
    while (used < length && i + used < bytes.size()) {
      const auto next = static_cast<unsigned char>(bytes[i + used]);
      const unsigned char min = used == 1 ? secondMin : 0x80;
      const unsigned char max = used == 1 ? secondMax : 0xBF;
      if (next < min || next > max) break;
      codePoint = (codePoint << 6) | (next & 0x3Fu);
      ++used;
    }
    // A cut-off sequence is replaced as a whole; the byte that broke it is
    // decoded afresh.
    AppendWide(used == length ? codePoint : kReplacementCharacter, out);
    i += used;
  }
  return out;
}

}  // namespace platform
