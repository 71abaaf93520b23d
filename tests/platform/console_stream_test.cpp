#include "platform/console_stream.h"
#include "platform/utf8.h"
#include "platform/write_whole.h"
#include "tessel-version.h"
#include "tests/sim/sim_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Records every write as it arrives, so that tests see both the bytes and
// when they were handed over.
class RecordingSink : public platform::ConsoleSink {
 public:
  explicit RecordingSink(bool consoleWindow) : consoleWindow_(consoleWindow) {}

  bool IsConsoleWindow() override { return consoleWindow_; }
  void WriteText(std::u16string_view text) override { texts.emplace_back(text); }
  void WriteBytes(std::string_view bytes) override { byteWrites.emplace_back(bytes); }

  std::string AllBytes() const {
    std::string all;
    for (const auto& piece : byteWrites) all += piece;
    return all;
  }
  std::u16string AllText() const {
    std::u16string all;
    for (const auto& piece : texts) all += piece;
    return all;
  }

  std::vector<std::string> byteWrites;
  std::vector<std::u16string> texts;

 private:
  bool consoleWindow_;
};

// The stream's wide characters for a code point beyond the 16-bit range: one
// unit where wchar_t holds 32 bits, a surrogate pair where it holds 16.
std::wstring Supplementary(char32_t codePoint) {
  std::wstring text;
  if constexpr (sizeof(wchar_t) == 2) {
    const char32_t offset = codePoint - 0x10000;
    text.push_back(static_cast<wchar_t>(0xD800 + (offset >> 10)));
    text.push_back(static_cast<wchar_t>(0xDC00 + (offset & 0x3FF)));
  } else {
    text.push_back(static_cast<wchar_t>(codePoint));
  }
  return text;
}

struct RedirectedStream {
  RecordingSink sink{false};
  platform::ConsoleStream stream{sink};
  platform::Console out{stream};
};

struct WindowStream {
  RecordingSink sink{true};
  platform::ConsoleStream stream{sink};
  platform::Console out{stream};
};

TEST(ConsoleStreamRedirected, AsciiLinesArriveByteForByteWithCrLfAndNoMark) {
  RedirectedStream s;
  s.out << platform::endl
        << "tessel-cleanup v" << product_version::kText << platform::endl
        << platform::endl;
  s.out << "ERROR code: " << -1 << " Message: " << 1072u << platform::endl;
  // HRESULT-style codes are shown signed; the extremes of both types.
  s.out << static_cast<std::int32_t>(0x80070005) << " " << INT32_MIN << " " << 0 << " "
        << UINT32_MAX << platform::endl;

  EXPECT_EQ(s.sink.AllBytes(), sim::WithVersion("\r\ntessel-cleanup v{version}\r\n\r\n") +
                                   "ERROR code: -1 Message: 1072\r\n"
                                   "-2147024891 -2147483648 0 4294967295\r\n");
  EXPECT_TRUE(s.sink.texts.empty());
}

TEST(ConsoleStreamRedirected, TextReachesTheSinkWithoutALineEnd) {
  RedirectedStream s;
  s.out << "Sending telemetry ";
  EXPECT_EQ(s.sink.AllBytes(), "Sending telemetry ");

  s.out << ".";
  EXPECT_EQ(s.sink.AllBytes(), "Sending telemetry .");
  s.out << ".";
  EXPECT_EQ(s.sink.AllBytes(), "Sending telemetry ..");
}

TEST(ConsoleStreamRedirected, NonLatinTextIsUtf8AndLaterLinesAreKept) {
  RedirectedStream s;
  s.out << "ERROR deleting Directory: "
        << L"C:\\Program Files\\Caf\u00E9 \u041F\u0443\u0442\u044C \u8DEF" << platform::endl;
  s.out << "Directory is not present: " << L"C:\\x" << platform::endl;

  EXPECT_EQ(s.sink.AllBytes(),
            "ERROR deleting Directory: C:\\Program Files\\Caf\xC3\xA9 "
            "\xD0\x9F\xD1\x83\xD1\x82\xD1\x8C \xE8\xB7\xAF\r\n"
            "Directory is not present: C:\\x\r\n");
}

TEST(ConsoleStreamRedirected, CharactersBeyondTheBasicPlaneAreFourBytes) {
  RedirectedStream s;
  s.out << Supplementary(0x1F600) << Supplementary(0x10FFFF) << Supplementary(0x10000)
        << platform::flush;

  EXPECT_EQ(s.sink.AllBytes(),
            "\xF0\x9F\x98\x80"
            "\xF4\x8F\xBF\xBF"
            "\xF0\x90\x80\x80");
}

TEST(ConsoleStreamRedirected, SurrogatePairSplitAcrossWritesIsJoined) {
  if constexpr (sizeof(wchar_t) == 4) {
    GTEST_SKIP() << "32-bit wide text holds whole characters";
  }
  RedirectedStream s;
  s.out << std::wstring(1, static_cast<wchar_t>(0xD83D)) << platform::flush;
  // Half a character is held back, not shown as a replacement.
  EXPECT_EQ(s.sink.AllBytes(), "");

  s.out << std::wstring(1, static_cast<wchar_t>(0xDE00));
  EXPECT_EQ(s.sink.AllBytes(), "\xF0\x9F\x98\x80");
}

TEST(ConsoleStreamRedirected, LoneSurrogatesBecomeReplacementCharacters) {
  const std::string replacement = "\xEF\xBF\xBD";
  {
    RedirectedStream s;
    s.out << std::wstring{static_cast<wchar_t>(0xD800), L'A'};
    EXPECT_EQ(s.sink.AllBytes(), replacement + "A");
  }
  {
    RedirectedStream s;
    s.out << std::wstring{L'A', static_cast<wchar_t>(0xDFFF), L'B'};
    EXPECT_EQ(s.sink.AllBytes(), "A" + replacement + "B");
  }
  // Surrogates pair only where wide text is UTF-16.
  constexpr bool kUtf16 = sizeof(wchar_t) == 2;
  {
    // Two high surrogates in a row: the first has lost its partner, the
    // second still pairs with what follows.
    RedirectedStream s;
    s.out << std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xD83D),
                          static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(s.sink.AllBytes(),
              replacement + (kUtf16 ? "\xF0\x9F\x98\x80" : replacement + replacement));
  }
  {
    // A high surrogate still held back when the stream ends is written out.
    RecordingSink sink(false);
    {
      platform::ConsoleStream stream(sink);
      platform::Console out(stream);
      out << "x" << std::wstring{static_cast<wchar_t>(0xDBFF)};
      EXPECT_EQ(sink.AllBytes(), kUtf16 ? "x" : "x" + replacement);
    }
    EXPECT_EQ(sink.AllBytes(), "x" + replacement);
  }
}

TEST(ConsoleStreamRedirected, ValuesBeyondUnicodeBecomeReplacementCharacters) {
  if constexpr (sizeof(wchar_t) == 4) {
    RedirectedStream s;
    s.out << std::wstring{static_cast<wchar_t>(0x110000), L'!'};
    EXPECT_EQ(s.sink.AllBytes(), "\xEF\xBF\xBD!");
  } else {
    GTEST_SKIP() << "16-bit wide characters cannot hold such a value";
  }
}

TEST(ConsoleStreamRedirected, LineFeedsAfterCarriageReturnsAreNotDoubled) {
  RedirectedStream s;
  // A system message ends in CR LF of its own; the reporter adds two line ends.
  s.out << "ERROR code: " << 5 << " Message: " << L"Access denied.\r\n"
        << platform::endl
        << platform::endl;
  EXPECT_EQ(s.sink.AllBytes(), "ERROR code: 5 Message: Access denied.\r\n\r\n\r\n");

  RedirectedStream split;
  split.out << L"a\r" << platform::flush << L"\nb\n\n" << L"\r\r\n";
  EXPECT_EQ(split.sink.AllBytes(), "a\r\nb\r\n\r\n\r\r\n");
}

TEST(ConsoleStreamWindow, WindowGetsUtf16WithCrLf) {
  WindowStream s;
  s.out << "Service is not present: " << L"ts\u00FF\u4E2D" << Supplementary(0x1F600)
        << platform::endl;

  const std::u16string expected = u"Service is not present: ts\u00FF\u4E2D\U0001F600\r\n";
  EXPECT_EQ(s.sink.AllText(), expected);
  EXPECT_TRUE(s.sink.byteWrites.empty());
}

TEST(ConsoleStreamWindow, WindowGetsEachPieceAsItIsWrittenAndReplacementsForLoneHalves) {
  WindowStream s;
  s.out << "Sending telemetry ";
  ASSERT_EQ(s.sink.texts.size(), 1u);
  EXPECT_EQ(s.sink.texts[0], u"Sending telemetry ");
  s.out << ".";
  ASSERT_EQ(s.sink.texts.size(), 2u);
  EXPECT_EQ(s.sink.texts[1], u".");

  s.out << std::wstring{static_cast<wchar_t>(0xDC00), L'z'};
  EXPECT_EQ(s.sink.AllText(), u"Sending telemetry .\uFFFDz");
}

// The one loop behind every whole write: it goes on after a partial write,
// keeps a surrogate pair in one call, and stops at a call that fails, writes
// nothing or reports more than it was given.
TEST(WriteWhole, GoesOnAfterPartialWritesAndFailsOnAnOverReport) {
  const std::u16string text = u"ab\U00010437c";
  std::vector<std::size_t> counts;
  EXPECT_TRUE(platform::WriteWhole(
      text.data(), text.size(), 3,
      [&counts](const char16_t*, std::size_t count) {
        counts.push_back(count);
        return count == 3 ? std::size_t{2} : count;
      },
      platform::IsHighSurrogate));
  EXPECT_EQ(counts, (std::vector<std::size_t>{2, 3, 1}));
  for (const std::size_t extra : {std::size_t{0}, std::size_t{1}}) {
    EXPECT_FALSE(platform::WriteWhole(
        text.data(), text.size(), 3,
        [extra](const char16_t*, std::size_t count) { return extra == 0 ? 0 : count + extra; }));
  }
}

}  // namespace
