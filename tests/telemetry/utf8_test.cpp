#include "telemetry/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace telemetry {
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

TEST(EncodeUtf8Test, EachLengthAtItsBoundaries) {
  EXPECT_EQ(EncodeUtf8(L"A"), "A");
  EXPECT_EQ(EncodeUtf8(Wide(0x7F).c_str()), "\x7F");
  EXPECT_EQ(EncodeUtf8(Wide(0x80).c_str()), "\xC2\x80");
  EXPECT_EQ(EncodeUtf8(Wide(0x7FF).c_str()), "\xDF\xBF");
  EXPECT_EQ(EncodeUtf8(Wide(0x800).c_str()), "\xE0\xA0\x80");
  EXPECT_EQ(EncodeUtf8(Wide(0xFFFD).c_str()), "\xEF\xBF\xBD");
  EXPECT_EQ(EncodeUtf8(Wide(0x10000).c_str()), "\xF0\x90\x80\x80");
  EXPECT_EQ(EncodeUtf8(Wide(0x10FFFF).c_str()), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(EncodeUtf8(nullptr), "");
}

TEST(DecodeUtf8Test, WellFormedText) {
  EXPECT_EQ(DecodeUtf8("http://a/b?c=d"), L"http://a/b?c=d");
  EXPECT_EQ(DecodeUtf8("caf\xC3\xA9"), L"caf" + Wide(0xE9));
  EXPECT_EQ(DecodeUtf8("\xE2\x82\xAC"), Wide(0x20AC));
  EXPECT_EQ(DecodeUtf8("\xF0\x9F\x98\x80!"), Wide(0x1F600) + L"!");
  EXPECT_EQ(DecodeUtf8("\xF4\x8F\xBF\xBF"), Wide(0x10FFFF));
  EXPECT_EQ(DecodeUtf8(""), L"");
}

TEST(DecodeUtf8Test, CharactersBeyondTheBasicPlaneAsThisBuildHoldsThem) {
  const std::wstring decoded = DecodeUtf8("\xF0\x9F\x98\x80");
  if constexpr (sizeof(wchar_t) == 2) {
    EXPECT_EQ(decoded, Units({0xD83D, 0xDE00}));
  } else {
    EXPECT_EQ(decoded, Units({0x1F600}));
  }
}

TEST(DecodeUtf8Test, MalformedSequencesBecomeReplacementCharacters) {
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
}  // namespace telemetry
