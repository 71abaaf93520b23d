#include "platform/console_stream.h"

#include <cstdint>

namespace platform {
namespace {

constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kLowSurrogateLast = 0xDFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;

bool IsHighSurrogate(char32_t value) {
  return value >= kHighSurrogateFirst && value < kLowSurrogateFirst;
}
bool IsLowSurrogate(char32_t value) {
  return value >= kLowSurrogateFirst && value <= kLowSurrogateLast;
}

// The unit's value without sign extension, whatever the width of wchar_t.
char32_t UnitValue(wchar_t unit) {
  if constexpr (sizeof(wchar_t) == 2) {
    return static_cast<char32_t>(static_cast<std::uint16_t>(unit));
  } else {
    return static_cast<char32_t>(static_cast<std::uint32_t>(unit));
  }
}

char ByteOf(char32_t value) { return static_cast<char>(static_cast<unsigned char>(value)); }

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
    if (IsHighSurrogate(value)) {
      pendingHigh_ = value;
    } else if (IsLowSurrogate(value) || value > kLastCodePoint) {
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

void AppendUtf16(char32_t codePoint, std::u16string& out) {
  if (codePoint < 0x10000) {
    out.push_back(static_cast<char16_t>(codePoint));
  } else {
    const char32_t offset = codePoint - 0x10000;
    out.push_back(static_cast<char16_t>(kHighSurrogateFirst + (offset >> 10)));
    out.push_back(static_cast<char16_t>(kLowSurrogateFirst + (offset & 0x3FF)));
  }
}

ConsoleStream::ConsoleStream(ConsoleSink& sink)
    : sink_(sink), consoleWindow_(sink.IsConsoleWindow()) {}

ConsoleStream::~ConsoleStream() {
  // A dangling half of a surrogate pair is still a character the program wrote.
  std::u32string rest;
  decoder_.Finish(rest);
  if (!rest.empty()) Deliver(rest);
}

// A high surrogate at the end stays held back: half a character cannot be
// shown.
void ConsoleStream::Write(std::wstring_view text) {
  std::u32string codePoints;
  codePoints.reserve(text.size() + 1);
  decoder_.Decode(text, codePoints);
  if (!codePoints.empty()) Deliver(codePoints);
}

void ConsoleStream::Deliver(const std::u32string& codePoints) {
  std::u32string withLineEnds;
  withLineEnds.reserve(codePoints.size() + 4);
  for (const char32_t codePoint : codePoints) {
    if (codePoint == U'\n' && !lastWasCarriageReturn_) withLineEnds.push_back(U'\r');
    withLineEnds.push_back(codePoint);
    lastWasCarriageReturn_ = codePoint == U'\r';
  }
  if (consoleWindow_) {
    std::u16string units;
    units.reserve(withLineEnds.size());
    for (const char32_t codePoint : withLineEnds) AppendUtf16(codePoint, units);
    sink_.WriteText(units);
  } else {
    std::string bytes;
    bytes.reserve(withLineEnds.size());
    for (const char32_t codePoint : withLineEnds) AppendUtf8(codePoint, bytes);
    sink_.WriteBytes(bytes);
  }
}

}  // namespace platform
