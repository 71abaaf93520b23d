// An account of telemetry text written apart from the product's encoder: the
// UTF-8 a wide text should travel as, and the decoding of a form body back
// into its fields. The fuzz targets hold the product's output against it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// UTF-8 of every unit of `text`, zero units included. Where wchar_t is 16 bits
// a high surrogate followed by a low one is one character and any other
// surrogate is U+FFFD; where it is 32 bits every surrogate and every value
// past U+10FFFF is U+FFFD.
std::string ReferenceUtf8(std::wstring_view text);

// One field of a form body as the server reads it.
struct WireField {
  std::string name;
  std::optional<std::string> value;  // none when the name came without "="

  bool operator==(const WireField&) const = default;
};

// True when every unit is an unreserved ASCII character (letter, digit, "-",
// "_", ".", "~"), "%", "=" or "&".
bool HasOnlyFormCharacters(std::wstring_view body);

// The bytes of one key or value. None unless each unit is an unreserved
// character or "%" with two upper-case hexadecimal digits naming a byte that
// is not itself unreserved: the one spelling the encoder may produce.
std::optional<std::string> PercentDecode(std::wstring_view piece);

// The fields of a body split on "&", each split on its "=". None when a field
// has more than one "=" or a piece does not decode.
std::optional<std::vector<WireField>> ParseForm(std::wstring_view body);

// Aborts when the functions above disagree with a few known answers, so that a
// fault in the yardstick is not mistaken for a fault in the product.
void SelfCheckReference();

}  // namespace fuzz
