#include "platform/ascii.h"

namespace platform {

std::wstring FormatInt64(std::int64_t value) {
  // The magnitude is taken in unsigned arithmetic, where negating the most
  // negative value is defined.
  const bool negative = value < 0;
  auto magnitude = static_cast<std::uint64_t>(value);
  if (negative) magnitude = 0 - magnitude;
  wchar_t digits[20];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::wstring text;
  if (negative) text.push_back(L'-');
  while (count > 0) text.push_back(digits[--count]);
  return text;
}

}  // namespace platform
