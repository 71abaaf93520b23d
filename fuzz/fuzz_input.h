// Reads a fuzzer's bytes as a short program of choices and wide texts, so that
// every input, however mutated, means something and small seeds stay legible.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// How a text is written in the input, one unit after the other:
//   00-7F        the ASCII unit itself (00 is a zero unit inside the text)
//   80-BF x      unit ((lead & 3F) << 8) | x: U+0000 to U+3FFF
//   C0-DF x      a surrogate, D800 | ((lead & 07) << 8) | x
//   E0-EF x y    the BMP unit x << 8 | y
//   F0-F7 x y z  the character U+10000 + (x y z modulo 0x100000); a surrogate
//                pair where wchar_t is 16 bits
//   F8-FE w x y z  the raw unit w x y z (truncated where wchar_t is 16 bits):
//                values past U+10FFFF and, as wchar_t is signed, negatives
//   FF           the end of the text
// A text also ends with the input or at kMaxTextUnits units.
inline constexpr std::uint8_t kEndOfText = 0xFF;
inline constexpr std::size_t kMaxTextUnits = 256;

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return offset_ >= size_; }
  // The next byte; 0 once the input is used up.
  std::uint8_t Byte();
  // The next text in the format above.
  std::wstring Text();

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

// The part of `text` before its first zero unit: what a function that takes a
// zero-terminated string sees of it.
std::wstring UpToFirstZero(const std::wstring& text);

// Ends the run with `what` when `condition` is false; libFuzzer keeps the input.
void Require(bool condition, const char* what);

}  // namespace fuzz
