#include "fuzz/reference_encoding.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "fuzz/fuzz_input.h"

namespace fuzz {
namespace {

constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;
constexpr std::uint32_t kReplacement = 0xFFFD;

std::uint32_t Value(wchar_t unit) {
  return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(unit));
}

bool IsSurrogate(std::uint32_t value) { return value >= 0xD800 && value <= 0xDFFF; }

// Lead byte marks by the number of continuation bytes that follow.
constexpr std::uint8_t kLeadMarks[] = {0x00, 0xC0, 0xE0, 0xF0};

void AppendCodePoint(std::uint32_t codePoint, std::string& out) {
  std::size_t continuations = 0;
  if (codePoint >= 0x80) continuations = 1;
  if (codePoint >= 0x800) continuations = 2;
  if (codePoint >= 0x10000) continuations = 3;
  out.push_back(static_cast<char>(kLeadMarks[continuations] | codePoint >> (6 * continuations)));
  for (std::size_t i = continuations; i > 0; --i) {
    out.push_back(static_cast<char>(0x80u | ((codePoint >> (6 * (i - 1))) & 0x3Fu)));
  }
}

bool IsUnreservedAscii(std::uint32_t value) {
  return (value >= 'A' && value <= 'Z') || (value >= 'a' && value <= 'z') ||
         (value >= '0' && value <= '9') || value == '-' || value == '_' || value == '.' ||
         value == '~';
}

// Upper-case hexadecimal only: the encoder never writes lower case.
std::optional<std::uint32_t> HexDigit(wchar_t unit) {
  const std::uint32_t value = Value(unit);
  if (value >= '0' && value <= '9') return value - '0';
  if (value >= 'A' && value <= 'F') return value - 'A' + 10;
  return std::nullopt;
}

std::vector<std::wstring_view> Split(std::wstring_view text, wchar_t separator) {
  std::vector<std::wstring_view> pieces;
  for (;;) {
    const std::size_t at = text.find(separator);
    pieces.push_back(text.substr(0, at));
    if (at == std::wstring_view::npos) return pieces;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

std::string ReferenceUtf8(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t value = Value(text[i]);
    if (kWideIsUtf16 && value >= 0xD800 && value <= 0xDBFF && i + 1 < text.size() &&
        Value(text[i + 1]) >= 0xDC00 && Value(text[i + 1]) <= 0xDFFF) {
      value = 0x10000 + (value - 0xD800) * 0x400 + (Value(text[i + 1]) - 0xDC00);
      ++i;
    } else if (IsSurrogate(value) || value > 0x10FFFF) {
      value = kReplacement;
    }
    AppendCodePoint(value, out);
  }
  return out;
}

bool HasOnlyFormCharacters(std::wstring_view body) {
  return std::ranges::all_of(body, [](wchar_t unit) {
    const std::uint32_t value = Value(unit);
    return IsUnreservedAscii(value) || value == '%' || value == '=' || value == '&';
  });
}

std::optional<std::string> PercentDecode(std::wstring_view piece) {
  std::string bytes;
  for (std::size_t i = 0; i < piece.size(); ++i) {
    const std::uint32_t value = Value(piece[i]);
    if (IsUnreservedAscii(value)) {
      bytes.push_back(static_cast<char>(value));
      continue;
    }
    if (value != '%' || piece.size() - i < 3) return std::nullopt;
    const std::optional<std::uint32_t> high = HexDigit(piece[i + 1]);
    const std::optional<std::uint32_t> low = HexDigit(piece[i + 2]);
    if (!high || !low) return std::nullopt;
    const std::uint32_t byte = *high * 16 + *low;
    if (IsUnreservedAscii(byte)) return std::nullopt;
    bytes.push_back(static_cast<char>(byte));
    i += 2;
  }
  return bytes;
}

std::optional<std::vector<WireField>> ParseForm(std::wstring_view body) {
  std::vector<WireField> fields;
  for (const std::wstring_view field : Split(body, L'&')) {
    const std::vector<std::wstring_view> parts = Split(field, L'=');
    if (parts.size() > 2) return std::nullopt;
    std::optional<std::string> name = PercentDecode(parts[0]);
    if (!name) return std::nullopt;
    WireField decoded{*name, std::nullopt};
    if (parts.size() == 2) {
      decoded.value = PercentDecode(parts[1]);
      if (!decoded.value) return std::nullopt;
    }
    fields.push_back(decoded);
  }
  return fields;
}

void SelfCheckReference() {
  Require(ReferenceUtf8(L"A~") == "A~", "reference: ASCII passes as one byte");
  Require(ReferenceUtf8(std::wstring(1, L'\0')) == std::string(1, '\0'),
          "reference: a zero unit is one zero byte");
  Require(ReferenceUtf8(L"\u00E9") == "\xC3\xA9", "reference: U+00E9 is C3 A9");
  Require(ReferenceUtf8(L"\u07FF\u0800") == "\xDF\xBF\xE0\xA0\x80",
          "reference: two- and three-byte boundaries");
  Require(ReferenceUtf8(L"\u20AC") == "\xE2\x82\xAC", "reference: U+20AC is E2 82 AC");
  Require(ReferenceUtf8(L"\U0001F600") == "\xF0\x9F\x98\x80", "reference: U+1F600 is F0 9F 98 80");
  Require(ReferenceUtf8(L"\U0010FFFF") == "\xF4\x8F\xBF\xBF", "reference: U+10FFFF is F4 8F BF BF");
  const std::wstring loneHigh(1, static_cast<wchar_t>(0xD83D));
  Require(ReferenceUtf8(loneHigh + L"x") == "\xEF\xBF\xBDx",
          "reference: a lone surrogate is U+FFFD");
  if constexpr (!kWideIsUtf16) {
    const std::wstring tooLarge(1, static_cast<wchar_t>(0x110000));
    Require(ReferenceUtf8(tooLarge) == "\xEF\xBF\xBD", "reference: past U+10FFFF is U+FFFD");
  }

  Require(PercentDecode(L"a-_.~%25%C3%A9") == std::optional<std::string>("a-_.~%\xC3\xA9"),
          "reference: unreserved characters and escapes decode");
  Require(!PercentDecode(L"%c3%a9"), "reference: lower-case hex is refused");
  Require(!PercentDecode(L"%41"), "reference: an escaped unreserved byte is refused");
  Require(!PercentDecode(L"%4"), "reference: a cut-off escape is refused");
  Require(!PercentDecode(L"a b"), "reference: a space is refused");
  Require(!HasOnlyFormCharacters(L"a=b&c+d"), "reference: a plus sign is no form character");

  const std::optional<std::vector<WireField>> form = ParseForm(L"a=1&b&c=&%26=%3D");
  Require(form == std::optional<std::vector<WireField>>(std::vector<WireField>{
                      {"a", "1"}, {"b", std::nullopt}, {"c", ""}, {"&", "="}}),
          "reference: a form splits into its fields");
  Require(!ParseForm(L"a=b=c"), "reference: a field with two equals signs is refused");
}

}  // namespace fuzz
