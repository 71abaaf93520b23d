#include "platform/console_stream.h"

namespace platform {

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
