#include "platform/console.h"

#include <cstring>
#include <string>

#include "platform/ascii.h"

namespace platform {

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
  output_.Write(FormatInt64(value));
  return *this;
}

Console& Console::operator<<(std::uint32_t value) {
  output_.Write(FormatInt64(value));
  return *this;
}

Console& endl(Console& console) { return console << L"\n"; }

Console& flush(Console& console) { return console; }

}  // namespace platform
