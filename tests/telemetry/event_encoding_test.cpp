#include "telemetry/event_encoding.h"
#include "platform/ascii.h"

#include <gtest/gtest.h>
#include "tessel-version.h"
#include "tests/sim/sim_text.h"

#include <cstdint>
#include <limits>
#include <string>

namespace telemetry {
namespace {

constexpr wchar_t kRunId[] = L"3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f";

std::wstring Units(std::initializer_list<std::uint32_t> values) {
  std::wstring text;
  for (const std::uint32_t value : values) text.push_back(static_cast<wchar_t>(value));
  return text;
}

// U+1F600 as this build's wide text: a surrogate pair where wchar_t is 16
// bits, the code point itself where it is 32.
std::wstring GrinningFace() {
  if constexpr (sizeof(wchar_t) == 2) return Units({0xD83D, 0xDE00});
  return Units({0x1F600});
}

TEST(EncodeEventTest, StartEventBodyByteForByte) {
  const TelemetryEvent event(L"start", nullptr, kRunId);
  const std::wstring body = EncodeEvent(event) + kBodyMarker;
  EXPECT_EQ(body,
            sim::WithVersion(L"product=tessel_remove&version={version}&error=&language=en"
                             L"&module=start&build=3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f&ping"));
}

TEST(EncodeEventTest, DoneEventBodyByteForByte) {
  TelemetryEvent event(L"done", L"", kRunId);
  event.AddCustomField(L"errors", L"2");
  event.AddCustomField(L"reboot", L"Yes");
  const std::wstring body = EncodeEvent(event) + kBodyMarker;
  EXPECT_EQ(body, sim::WithVersion(L"product=tessel_remove&version={version}&error=&language=en"
                                   L"&module=done&build=3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f"
                                   L"&errors=2&reboot=Yes&ping"));
}

TEST(EncodeEventTest, ErrorEventCarriesLabelAndEscapedMessage) {
  TelemetryEvent event(L"error", L"FileDelete", L"id");
  event.AddCustomField(L"message", L"C:\\Program Files\\Tessel");
  EXPECT_EQ(EncodeEvent(event),
            sim::WithVersion(L"product=tessel_remove&version={version}&error=FileDelete"
                             L"&language=en&module=error&build=id"
                             L"&message=C%3A%5CProgram%20Files%5CTessel"));
}

TEST(EncodeEventTest, EmptyFieldsAreLeftOutExceptError) {
  TelemetryEvent event(nullptr, nullptr, nullptr);
  EXPECT_EQ(EncodeEvent(event),
            sim::WithVersion(L"product=tessel_remove&version={version}&error=&language=en"));
  event.language.clear();
  EXPECT_EQ(EncodeEvent(event),
            sim::WithVersion(L"product=tessel_remove&version={version}&error="));
}

TEST(EncodeEventTest, WireOrderDiffersFromRecordOrder) {
  TelemetryEvent event(L"m", L"e", L"b");
  event.product = L"p";
  event.version = L"v";
  event.language = L"l";
  EXPECT_EQ(EncodeEvent(event), L"product=p&version=v&error=e&language=l&module=m&build=b");
}

TEST(EncodeEventTest, CustomFieldsFollowBuildInInsertionOrder) {
  TelemetryEvent event(L"m", nullptr, L"b");
  event.AddCustomField(L"zeta", L"1");
  event.AddCustomField(L"flag", nullptr);
  event.AddCustomField(L"blank", L"");
  event.AddCustomField(L"zeta", L"2");  // replaced in place
  EXPECT_EQ(EncodeEvent(event),
            sim::WithVersion(L"product=tessel_remove&version={version}&error=&language=en"
                             L"&module=m&build=b&zeta=2&flag&blank="));
}

TEST(EncodeEventTest, SeparatorsInCustomFieldsCannotBreakTheForm) {
  TelemetryEvent event(L"m", nullptr, L"b");
  event.AddCustomField(L"a&b=c", L"x=1&ping");
  const std::wstring body = EncodeEvent(event);
  EXPECT_EQ(body.substr(body.find(L"&a")), L"&a%26b%3Dc=x%3D1%26ping");
}

TEST(EncodeFieldTest, NameAndValueForms) {
  EXPECT_EQ(EncodeField(L"key", L"value"), L"&key=value");
  EXPECT_EQ(EncodeField(L"key", L""), L"&key=");
  EXPECT_EQ(EncodeField(L"key", nullptr), L"&key");
  EXPECT_EQ(EncodeField(nullptr, L"value"), L"");
  EXPECT_EQ(EncodeField(L"k y", L"v+w"), L"&k%20y=v%2Bw");
}

TEST(PercentEncodeTest, EscapeTable) {
  struct Case {
    std::wstring input;
    std::wstring expected;
  };
  const Case cases[] = {
      {L" ", L"%20"},
      {L"+", L"%2B"},
      {L"&", L"%26"},
      {L"=", L"%3D"},
      {L"%", L"%25"},
      {L"\\", L"%5C"},
      {L":", L"%3A"},
      {L"-_.~", L"-_.~"},
      {L"AZaz09", L"AZaz09"},
      {Units({0xE9}), L"%C3%A9"},
      {Units({0x20AC}), L"%E2%82%AC"},
      {L"/?#[]@!$'()*,;", L"%2F%3F%23%5B%5D%40%21%24%27%28%29%2A%2C%3B"},
      {L"\t\r\n", L"%09%0D%0A"},
      {Units({0x7F}), L"%7F"},
      {Units({0x80}), L"%C2%80"},
      {Units({0x7FF}), L"%DF%BF"},
      {Units({0x800}), L"%E0%A0%80"},
      {Units({0xFFFF}), L"%EF%BF%BF"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PercentEncode(c.input.c_str()), c.expected) << "input " << c.expected;
  }
}

TEST(PercentEncodeTest, HexDigitsAreUpperCase) {
  // Bytes 0xAB .. 0xFF only come out of multi-byte characters: U+00FF is C3 BF.
  EXPECT_EQ(PercentEncode(Units({0xFF, 0x1A, 0x7B}).c_str()), L"%C3%BF%1A%7B");
}

TEST(PercentEncodeTest, StopsAtTheFirstZeroUnit) {
  const std::wstring text = Units({'a', 0, 'b'});
  EXPECT_EQ(PercentEncode(text.c_str()), L"a");
}

TEST(PercentEncodeTest, CharacterBeyondTheBasicPlaneIsOneFourByteSequence) {
  EXPECT_EQ(PercentEncode(GrinningFace().c_str()), L"%F0%9F%98%80");
  EXPECT_EQ(PercentEncode((L"a" + GrinningFace() + L"b").c_str()), L"a%F0%9F%98%80b");
  // The highest code point.
  const std::wstring last = sizeof(wchar_t) == 2 ? Units({0xDBFF, 0xDFFF}) : Units({0x10FFFF});
  EXPECT_EQ(PercentEncode(last.c_str()), L"%F4%8F%BF%BF");
}

TEST(PercentEncodeTest, LoneSurrogatesBecomeReplacementCharacter) {
  // A high half at the end, a high half before a letter, a low half alone, a
  // low half before a high half (the wrong order).
  EXPECT_EQ(PercentEncode(Units({'x', 0xD83D}).c_str()), L"x%EF%BF%BD");
  EXPECT_EQ(PercentEncode(Units({0xD83D, 'A'}).c_str()), L"%EF%BF%BDA");
  EXPECT_EQ(PercentEncode(Units({0xDE00}).c_str()), L"%EF%BF%BD");
  EXPECT_EQ(PercentEncode(Units({0xDE00, 0xD83D}).c_str()), L"%EF%BF%BD%EF%BF%BD");
}

TEST(PercentEncodeTest, SurrogateUnitsPairOnlyWhereWideTextIsUtf16) {
  const std::wstring pair = Units({0xD83D, 0xDE00});
  if constexpr (sizeof(wchar_t) == 2) {
    EXPECT_EQ(PercentEncode(pair.c_str()), L"%F0%9F%98%80");
  } else {
    // 32-bit wide text holds code points: surrogate values are not characters.
    EXPECT_EQ(PercentEncode(pair.c_str()), L"%EF%BF%BD%EF%BF%BD");
  }
}

TEST(PercentEncodeTest, ValuesAboveTheLastCodePointBecomeReplacementCharacter) {
  if constexpr (sizeof(wchar_t) == 2) {
    GTEST_SKIP() << "a 16-bit unit cannot exceed U+10FFFF";
  } else {
    EXPECT_EQ(PercentEncode(Units({0x110000}).c_str()), L"%EF%BF%BD");
    EXPECT_EQ(PercentEncode(Units({0x7FFFFFFF, 'z'}).c_str()), L"%EF%BF%BDz");
  }
}

// The platform's formatter, which writes the telemetry's numbers.
using platform::FormatInt64;

TEST(FormatInt64Test, DecimalText) {
  EXPECT_EQ(FormatInt64(0), L"0");
  EXPECT_EQ(FormatInt64(7), L"7");
  EXPECT_EQ(FormatInt64(10), L"10");
  EXPECT_EQ(FormatInt64(113), L"113");
  EXPECT_EQ(FormatInt64(-1), L"-1");
  EXPECT_EQ(FormatInt64(-120), L"-120");
  EXPECT_EQ(FormatInt64(4294967295LL), L"4294967295");
  EXPECT_EQ(FormatInt64(std::numeric_limits<std::int64_t>::max()), L"9223372036854775807");
  EXPECT_EQ(FormatInt64(std::numeric_limits<std::int64_t>::min()), L"-9223372036854775808");
}

}  // namespace
}  // namespace telemetry
