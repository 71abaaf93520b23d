#include "telemetry/utf8.h"

#include <type_traits>

namespace telemetry {
namespace {

constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

std::uint32_t UnitValue(wchar_t unit) {
  return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(unit));
}

bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(std::uint32_t codePoint, std::string& out) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

void AppendWide(std::uint32_t codePoint, std::wstring& out) {
  if (kWideIsUtf16 && codePoint > 0xFFFF) {
    const std::uint32_t offset = codePoint - 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 | (offset >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 | (offset & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(codePoint));
  }
}

}  // namespace

std::string EncodeUtf8(const wchar_t* text) {
  std::string out;
  if (text == nullptr) return out;
  for (const wchar_t* unit = text; *unit != L'\0'; ++unit) {
    std::uint32_t codePoint = UnitValue(*unit);
    if (kWideIsUtf16 && IsHighSurrogate(codePoint) && IsLowSurrogate(UnitValue(unit[1]))) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (UnitValue(unit[1]) - 0xDC00);
      ++unit;
    } else if (IsHighSurrogate(codePoint) || IsLowSurrogate(codePoint) || codePoint > 0x10FFFF) {
      codePoint = kReplacementCharacter;
    }
    AppendUtf8(codePoint, out);
  }
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
    std::uint32_t codePoint = lead & (0xFFu >> (length + 1));
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

}  // namespace telemetry
