#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
namespace {

std::wstring Units(std::initializer_list<std::uint32_t> values) {
  std::wstring text;
  for (const std::uint32_t value : values) text.push_back(static_cast<wchar_t>(value));
  return text;
}

// A code point as this build's wide text.
std::wstring Wide(std::uint32_t codePoint) {
  if (sizeof(wchar_t) == 2 && codePoint > 0xFFFF) {
    const std::uint32_t offset = codePoint - 0x10000;
    return Units({0xD800 + (offset >> 10), 0xDC00 + (offset & 0x3FF)});
  }
  return Units({codePoint});
}

const std::wstring kReplacement = Units({0xFFFD});

TEST(Utf8Test, EachLengthAtItsBoundaries) {
  struct Case {
    char32_t codePoint;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {0x00, std::string(1, '\0')},
      {0x41, "A"},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xFFFD, "\xEF\xBF\xBD"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const Case& c : cases) {
    std::string out;
    AppendUtf8(c.codePoint, out);
    EXPECT_EQ(out, c.bytes) << "U+" << std::hex << static_cast<unsigned>(c.codePoint);
    // Wide text ends at its first zero.
    EXPECT_EQ(EncodeUtf8(Wide(c.codePoint).c_str()), c.codePoint == 0 ? "" : c.bytes);
  }
  EXPECT_EQ(EncodeUtf8(nullptr), "");
}

TEST(Utf8Test, Utf16HasPairsForSupplementaryCodePoints) {
  std::u16string out;
  AppendUtf16(0xFFFF, out);
  AppendUtf16(0x10000, out);
  AppendUtf16(0x10FFFF, out);
  EXPECT_EQ(out, (std::u16string{0xFFFF, 0xD800, 0xDC00, 0xDBFF, 0xDFFF}));
}

TEST(Utf8Test, DecoderHoldsBackAHighSurrogateUntilTheNextPiece) {
  if constexpr (sizeof(wchar_t) == 4) {
    GTEST_SKIP() << "32-bit wide text holds whole characters";
  }
  WideTextDecoder decoder;
  std::u32string out;
  decoder.Decode(Units({'a', 0xD801}), out);
  EXPECT_EQ(out, U"a");

  decoder.Decode(Units({0xDC37}), out);
  EXPECT_EQ(out, U"a\U00010437");

  decoder.Finish(out);
  EXPECT_EQ(out, U"a\U00010437");
}

TEST(Utf8Test, DecodeWellFormedText) {
  EXPECT_EQ(DecodeUtf8("http://a/b?c=d"), L"http://a/b?c=d");
  EXPECT_EQ(DecodeUtf8("caf\xC3\xA9"), L"caf" + Wide(0xE9));
  EXPECT_EQ(DecodeUtf8("\xE2\x82\xAC"), Wide(0x20AC));
  EXPECT_EQ(DecodeUtf8("\xF0\x9F\x98\x80!"), Wide(0x1F600) + L"!");
  EXPECT_EQ(DecodeUtf8("\xF4\x8F\xBF\xBF"), Wide(0x10FFFF));
  EXPECT_EQ(DecodeUtf8(""), L"");
}

TEST(Utf8Test, DecodeCharactersBeyondTheBasicPlaneAsThisBuildHoldsThem) {
  const std::wstring decoded = DecodeUtf8("\xF0\x9F\x98\x80");
  if constexpr (sizeof(wchar_t) == 2) {
    EXPECT_EQ(decoded, Units({0xD83D, 0xDE00}));
  } else {
    EXPECT_EQ(decoded, Units({0x1F600}));
  }
}

TEST(Utf8Test, DecodeMalformedSequencesBecomeReplacementCharacters) {
  struct Case {
    const char* what;
    std::string bytes;
    std::wstring expected;
  };
  const std::wstring r = kReplacement;
  const Case cases[] = {
      {"stray continuation", "a\x80z", L"a" + r + L"z"},
      {"two stray continuations", "\x80\xBF", r + r},
      {"overlong two-byte lead", "\xC0\xAF", r + r},
      {"overlong three-byte", "\xE0\x80\xAF", r + r + r},
      {"overlong four-byte", "\xF0\x80\x80\xAF", r + r + r + r},
      {"encoded surrogate", "\xED\xA0\x80", r + r + r},
      {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"lead byte F5", "\xF5\x80", r + r},
      {"lead byte FF", "\xFF", r},
      {"cut at the end", "ab\xE2\x82", L"ab" + r},
      {"cut by ASCII", "\xE2\x82z", r + L"z"},
      {"cut by a new lead", "\xE2\xC3\xA9", r + Wide(0xE9)},
      {"four-byte cut after three", "\xF0\x9F\x98", r},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeUtf8(c.bytes), c.expected) << c.what;
}

TEST(Utf8Test, RoundTripOfMixedText) {
  const std::wstring text = L"a" + Wide(0xE9) + Wide(0x20AC) + Wide(0x1F600) + Wide(0x10FFFF);
  EXPECT_EQ(DecodeUtf8(EncodeUtf8(text.c_str())), text);
}

}  // namespace
}  // namespace platform
