#include "platform/paths.h"

#include <algorithm>
#include <cstddef>

#include "platform/ascii.h"

namespace platform::paths {
namespace {

wchar_t Folded(wchar_t c) {
  if (IsSeparator(c)) return L'\\';
  return IsAsciiUpper(c) ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

constexpr std::wstring_view kVerbatimUnc = L"\\\\?\\UNC\\";
constexpr std::wstring_view kVerbatim = L"\\\\?\\";
constexpr std::wstring_view kSystemDirectoryOnDrive = L":\\Windows\\System32";
constexpr std::wstring_view kNativeSystemAliasOnDrive = L":\\Windows\\Sysnative";

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  return path;
}

std::wstring Join(const std::wstring& directory, const std::wstring& name) {
  if (!directory.empty() && IsSeparator(directory.back())) return directory + name;
  return directory + L'\\' + name;
}

bool EqualIgnoringAsciiCase(std::wstring_view left, std::wstring_view right) {
  return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                    [](wchar_t a, wchar_t b) { return Folded(a) == Folded(b); });
}

bool IsDriveOrUncPath(std::wstring_view path) {
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && IsSeparator(path[2])) {
    return true;
  }
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
  const std::size_t serverEnd = path.find_first_of(L"\\/", 2);
  if (serverEnd == std::wstring_view::npos || serverEnd == 2 || serverEnd + 1 == path.size() ||
      IsSeparator(path[serverEnd + 1])) {
    return false;
  }
  const std::wstring_view server = path.substr(2, serverEnd - 2);
  return server != L"?" && server != L".";
}

std::wstring Verbatim(const std::wstring& path) {
  if (StartsWith(path, kVerbatim) || !IsDriveOrUncPath(path)) return path;
  if (IsSeparator(path[0])) return std::wstring(kVerbatimUnc) + path.substr(2);
  return std::wstring(kVerbatim) + path;
}

std::wstring WithoutVerbatimPrefix(std::wstring_view path) {
  if (StartsWith(path, kVerbatimUnc))
    return L"\\\\" + std::wstring(path.substr(kVerbatimUnc.size()));
  if (StartsWith(path, kVerbatim)) return std::wstring(path.substr(kVerbatim.size()));
  return std::wstring(path);
}

std::wstring ThroughNativeSystemAlias(const std::wstring& path) {
  const std::size_t end = 1 + kSystemDirectoryOnDrive.size();
  if (path.size() < end || (path.size() > end && !IsSeparator(path[end])) ||
      !EqualIgnoringAsciiCase(std::wstring_view(path).substr(1, kSystemDirectoryOnDrive.size()),
                              kSystemDirectoryOnDrive)) {
    return path;
  }
  return path.substr(0, 1) + std::wstring(kNativeSystemAliasOnDrive) + path.substr(end);
}

}  // namespace platform::paths
