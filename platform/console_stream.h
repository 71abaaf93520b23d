// A wide output stream buffer that can write any text to the console or to a
// redirected standard output, whatever the runtime's locale.
//
// The runtime's own wide console stream converts through the C locale and fails
// for good at the first character it cannot represent; every later line is then
// lost. This buffer instead hands the text to a sink in a form that holds every
// character: UTF-16 for a console window, UTF-8 bytes for a file or pipe.
#pragma once

#include <cstddef>
#include <streambuf>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Where the console text goes.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;

  // Whether the output is a console window, which takes UTF-16 text; otherwise
  // it is a file or a pipe, which takes bytes.
  virtual bool IsConsoleWindow() = 0;
  // Results are not examined: console output has nowhere to report a failure.
  virtual void WriteText(std::u16string_view text) = 0;
  virtual void WriteBytes(std::string_view bytes) = 0;
};

// Turns wide text, which may arrive in pieces, into code points. Where wide
// characters are 16 bits, a surrogate pair can be split across two pieces, so a
// high surrogate at the end of a piece is held back until the next one. A
// surrogate without its partner becomes U+FFFD, as does any value beyond the
// Unicode range.
class WideTextDecoder {
 public:
  void Decode(std::wstring_view text, std::u32string& out);
  // Ends the text: a high surrogate still held back becomes U+FFFD.
  void Finish(std::u32string& out);
  bool HasPending() const { return pendingHigh_ != 0; }

 private:
  char32_t pendingHigh_ = 0;
};

void AppendUtf8(char32_t codePoint, std::string& out);
void AppendUtf16(char32_t codePoint, std::u16string& out);

// Unbuffered: every write reaches the sink at once, so text without a line end
// (a row of progress dots) shows as it is written.
//
// Line ends: a line feed is written as CR LF, as the runtime's text-mode output
// does, so a redirected run reads like one from any Windows console program. A
// line feed that already follows a carriage return (the system's own messages
// end in CR LF) is written unchanged rather than doubled into CR CR LF.
//
// The buffer never reports a failure to its stream: a write that the sink
// cannot carry out must not put the stream into a failed state that would
// swallow every later line.
class ConsoleStreamBuf : public std::wstreambuf {
 public:
  explicit ConsoleStreamBuf(ConsoleSink& sink);
  ~ConsoleStreamBuf() override;

  ConsoleStreamBuf(const ConsoleStreamBuf&) = delete;
  ConsoleStreamBuf& operator=(const ConsoleStreamBuf&) = delete;

 protected:
  std::streamsize xsputn(const wchar_t* text, std::streamsize count) override;
  int_type overflow(int_type character) override;
  int sync() override;

 private:
  void Emit(std::wstring_view text);
  void Deliver(const std::u32string& codePoints);

  ConsoleSink& sink_;
  bool consoleWindow_;
  WideTextDecoder decoder_;
  bool lastWasCarriageReturn_ = false;
};

}  // namespace platform
