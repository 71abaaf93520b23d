#include "run/agreement_display.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace run {

namespace {

// Writes all bytes, going on after a partial write as long as each call makes
// progress.
bool WriteAll(platform::FileSystem& files, const platform::UniqueFileHandle& file,
              const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const std::size_t written = files.Write(file.get(), data, size);
    if (written == 0 || written > size) {
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

// Removes whatever holds the name, as a name: a file or one link of a hard-
// linked one, a symbolic link or a junction itself, never what it leads to.
// Attributes read at the name describe the link there, not its target.
bool FreeName(platform::FileSystem& files, const std::wstring& path) {
  const std::uint32_t attributes = files.GetFileAttributes(path);
  if (attributes == platform::kInvalidFileAttributes) {
    // Nothing there, or nothing to see: creating the file tells.
    return true;
  }
  if ((attributes & platform::kFileAttributeDirectory) != 0) {
    return files.RemoveDirectory(path);
  }
  return files.DeleteFile(path);
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Equal as Windows names on one volume compare, for the letters a TEMP path
// holds in practice: ASCII letters without regard to case, separators alike,
// anything else exactly (a false difference only keeps the page from opening).
bool SamePath(const std::wstring& left, const std::wstring& right) {
  const auto fold = [](wchar_t c) {
    if (IsSeparator(c)) return L'\\';
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  };
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (fold(left[i]) != fold(right[i])) {
      return false;
    }
  }
  return true;
}

// A final path in the form of the paths TEMP holds: "\\?\C:\x" as "C:\x",
// "\\?\UNC\server\share" as "\\server\share".
std::wstring WithoutVerbatimPrefix(const std::wstring& path) {
  static constexpr wchar_t kUnc[] = L"\\\\?\\UNC\\";
  static constexpr wchar_t kVerbatim[] = L"\\\\?\\";
  if (path.rfind(kUnc, 0) == 0) {
    return L"\\\\" + path.substr(std::char_traits<wchar_t>::length(kUnc));
  }
  if (path.rfind(kVerbatim, 0) == 0) {
    return path.substr(std::char_traits<wchar_t>::length(kVerbatim));
  }
  return path;
}

// Whether the new file is where the page belongs: TEMP, its short names
// expanded, and the page's name. A junction or link anywhere on the way (TEMP
// itself, or a directory above it) resolves to somewhere else, and the
// comparison sees it on the file actually created, whenever the link was made.
bool IsInTemp(platform::FileSystem& files, platform::FileHandle file, const std::wstring& temp) {
  const std::optional<std::wstring> created = files.GetFinalPath(file);
  std::optional<std::wstring> directory = files.GetLongPathName(temp);
  if (!created || !directory) {
    return false;
  }
  while (!directory->empty() && IsSeparator(directory->back())) {
    directory->pop_back();
  }
  return SamePath(WithoutVerbatimPrefix(*created), *directory + kAgreementFileName);
}

// The tool runs with administrator rights and the name in TEMP is known to
// every program of the user, so the page goes into a new file created where
// nothing holds the name any more, and only inside TEMP.
bool WritePage(platform::FileSystem& files, const std::wstring& temp, const std::wstring& path,
               const platform::ResourceBytes& page) {
  if (!FreeName(files, path)) {
    return false;
  }
  // Fails when the name has been taken again since.
  platform::UniqueFileHandle file(files, files.CreateNewFile(path));
  if (!file) {
    return false;
  }
  if (!IsInTemp(files, file.get(), temp)) {
    static_cast<void>(files.DeleteWhenClosed(file.get()));
    return false;
  }
  if (!WriteAll(files, file, page.data, page.size)) {
    return false;
  }
  // Closed here, not by the holder: a failed final flush is a failed write.
  return files.Close(file.release());
}

}  // namespace

void ShowAgreement(platform::Platform& platform) {
  const std::optional<std::wstring> temp = platform.shell.GetEnvironmentVariable(L"TEMP");
  // An empty value would put the page at the root of the current drive.
  if (!temp || temp->empty()) {
    return;
  }
  const std::optional<platform::ResourceBytes> page =
      platform.shell.FindProgramResource(kAgreementResourceType, kAgreementResourceId);
  // An empty page would show the user a blank agreement.
  if (!page || page->data == nullptr || page->size == 0) {
    return;
  }
  const std::wstring path = *temp + kAgreementFileName;
  // Opening a half-written page, or an older one, would show the user
  // something other than what they are asked to accept.
  if (!WritePage(platform.files, *temp, path, *page)) {
    return;
  }
  // Started by this elevated process, the browser would be elevated too, and
  // so would every site it goes on to visit; the desktop's shell starts it
  // with the user's normal rights. That is only right when the shell's user
  // is this process's: another account (an administrator's password typed at
  // the elevation prompt) could not read this TEMP. Without such a shell, or
  // when it does not answer in time, the page still opens, the only way left.
  platform::Shell& shell = platform.shell;
  const bool opened =
      shell.DesktopShellRunsAsThisUser() &&
      shell.OpenDocumentAsDesktopUser(path, platform::kShowNormal, kDesktopShellTimeoutMs);
  if (!opened) {
    static_cast<void>(shell.OpenDocument(path, platform::kShowNormal));
  }
}

}  // namespace run
