#include "tests/sim/sim_text.h"

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

}  // namespace sim
