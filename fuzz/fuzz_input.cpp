#include "fuzz/fuzz_input.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {
namespace {

constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

wchar_t Unit(std::uint32_t value) { return static_cast<wchar_t>(value); }

}  // namespace

std::uint8_t FuzzInput::Byte() { return empty() ? std::uint8_t{0} : data_[offset_++]; }

std::wstring FuzzInput::Text() {
  std::wstring text;
  while (!empty() && text.size() < kMaxTextUnits) {
    const std::uint8_t lead = Byte();
    if (lead == kEndOfText) break;
    if (lead < 0x80) {
      text.push_back(Unit(lead));
    } else if (lead < 0xC0) {
      text.push_back(Unit((std::uint32_t{lead} & 0x3Fu) << 8 | Byte()));
    } else if (lead < 0xE0) {
      text.push_back(Unit(0xD800u | (std::uint32_t{lead} & 0x07u) << 8 | Byte()));
    } else if (lead < 0xF0) {
      const std::uint32_t high = Byte();
      text.push_back(Unit(high << 8 | Byte()));
    } else if (lead < 0xF8) {
      std::uint32_t offset = 0;
      for (int i = 0; i < 3; ++i) offset = offset << 8 | Byte();
      offset %= 0x100000u;
      if (kWideIsUtf16) {
        text.push_back(Unit(0xD800u | offset >> 10));
        text.push_back(Unit(0xDC00u | (offset & 0x3FFu)));
      } else {
        text.push_back(Unit(0x10000u + offset));
      }
    } else {
      std::uint32_t raw = 0;
      for (int i = 0; i < 4; ++i) raw = raw << 8 | Byte();
      text.push_back(Unit(raw));
    }
  }
  return text;
}

std::wstring UpToFirstZero(const std::wstring& text) { return text.substr(0, text.find(L'\0')); }

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

}  // namespace fuzz
