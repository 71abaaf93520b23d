#include "tests/sim/sim_text.h"

#include "tessel-version.h"

namespace sim {

std::wstring FoldCase(const std::wstring& text) {
  std::wstring folded = text;
  for (wchar_t& c : folded) {
    if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
      c = static_cast<wchar_t>(c + 0x20);
    }
  }
  return folded;
}

bool IsAtOrBelow(const std::wstring& path, const std::wstring& ancestor) {
  if (path.size() < ancestor.size() || path.compare(0, ancestor.size(), ancestor) != 0) {
    return false;
  }
  return path.size() == ancestor.size() || path[ancestor.size()] == L'\\';
}

std::wstring Hex(std::uint32_t value) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring digits;
  do {
    digits.insert(digits.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0);
  return L"0x" + digits;
}

namespace {

template <typename Char>
std::basic_string<Char> ReplaceVersion(std::basic_string_view<Char> text) {
  static constexpr Char kMark[] = {'{', 'v', 'e', 'r', 's', 'i', 'o', 'n', '}', 0};
  std::basic_string<Char> version;
  for (const wchar_t* c = product_version::kText; *c != 0; ++c) {
    version.push_back(static_cast<Char>(*c));  // the version is ASCII
  }
  std::basic_string<Char> result(text);
  const std::basic_string_view<Char> mark(kMark);
  for (std::size_t at = result.find(mark); at != std::basic_string<Char>::npos;
       at = result.find(mark, at + version.size())) {
    result.replace(at, mark.size(), version);
  }
  return result;
}

}  // namespace

std::wstring WithVersion(std::wstring_view text) { return ReplaceVersion(text); }
std::string WithVersion(std::string_view text) { return ReplaceVersion(text); }

}  // namespace sim
