#include "platform/console.h"

#include <array>
#include <cstring>
#include <string>

namespace platform {
namespace {

// Digits of the magnitude, then the sign, from the end of `digits`.
std::wstring_view FormatDecimal(std::uint32_t magnitude, bool negative,
                                std::array<wchar_t, 12>& digits) {
  std::size_t start = digits.size();
  do {
    digits[--start] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) digits[--start] = L'-';
  return {digits.data() + start, digits.size() - start};
}

}  // namespace

Console& Console::operator<<(const char* ascii) {
  const std::size_t length = std::strlen(ascii);
  std::wstring wide(length, L'\0');
  for (std::size_t i = 0; i < length; ++i) {
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(ascii[i]));
  }
  output_.Write(wide);
  return *this;
}

Console& Console::operator<<(std::wstring_view text) {
  output_.Write(text);
  return *this;
}

Console& Console::operator<<(std::int32_t value) {
  // The magnitude in unsigned arithmetic, so that the most negative value
  // has one too.
  const bool negative = value < 0;
  const auto bits = static_cast<std::uint32_t>(value);
  std::array<wchar_t, 12> digits{};
  output_.Write(FormatDecimal(negative ? 0u - bits : bits, negative, digits));
  return *this;
}

Console& Console::operator<<(std::uint32_t value) {
  std::array<wchar_t, 12> digits{};
  output_.Write(FormatDecimal(value, false, digits));
  return *this;
}

Console& endl(Console& console) { return console << L"\n"; }

Console& flush(Console& console) { return console; }

}  // namespace platform
