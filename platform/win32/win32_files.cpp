#include "platform/win32/win32_api.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/win32/win32_facilities.h"
#include "platform/win32/win32_handles.h"

namespace platform::win32 {
namespace {

bool IsDotEntry(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == L'\0') ||
         (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

}  // namespace

std::uint32_t Win32FileSystem::GetFileAttributes(const std::wstring& path) {
  return GetFileAttributesW(path.c_str());
}

bool Win32FileSystem::SetFileAttributes(const std::wstring& path, std::uint32_t attributes) {
  return SetFileAttributesW(path.c_str(), attributes) != FALSE;
}

bool Win32FileSystem::DeleteFile(const std::wstring& path) {
  return DeleteFileW(path.c_str()) != FALSE;
}

int Win32FileSystem::ShellDelete(const std::wstring& path) {
  // The shell takes a list of paths, each ended by a NUL, the list by another.
  std::wstring list = path;
  list.push_back(L'\0');
  list.push_back(L'\0');

  SHFILEOPSTRUCTW operation{};
  operation.hwnd = nullptr;
  operation.wFunc = FO_DELETE;
  operation.pFrom = list.c_str();
  operation.pTo = nullptr;
  operation.fFlags = static_cast<FILEOP_FLAGS>(FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI);
  return SHFileOperationW(&operation);
}

bool Win32FileSystem::DeleteAtReboot(const std::wstring& path) {
  return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

std::optional<std::vector<DirectoryEntry>> Win32FileSystem::ListDirectory(
    const std::wstring& directory) {
  std::wstring pattern = directory;
  if (!pattern.empty() && !paths::IsSeparator(pattern.back())) pattern += L'\\';
  pattern += L'*';

  WIN32_FIND_DATAW found{};
  UniqueFindHandle search(FindFirstFileW(pattern.c_str(), &found));
  if (!search) {
    // A directory without even "." and ".." (a drive's root) is empty, not missing.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return std::vector<DirectoryEntry>{};
    return std::nullopt;
  }

  std::vector<DirectoryEntry> entries;
  do {
    if (IsDotEntry(found.cFileName)) continue;
    // A junction or symbolic link to a directory is listed as a plain entry:
    // whoever walks the tree must remove the link, never recurse into the
    // place it points to.
    const bool directoryLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries.push_back(
        DirectoryEntry{found.cFileName,
                       (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !directoryLink});
  } while (FindNextFileW(search.get(), &found));

  const DWORD error = ::GetLastError();
  if (error == ERROR_NO_MORE_FILES) return entries;
  // The caller reads why the listing stopped: the close must not change it.
  search.reset();
  SetLastError(error);
  return std::nullopt;
}

std::optional<bool> Win32FileSystem::DisableWow64FsRedirection(RedirectionState& saved) {
  using Disable = BOOL(WINAPI*)(PVOID*);
  const auto disable = LookUpEntry<Disable>(L"kernel32", "Wow64DisableWow64FsRedirection");
  if (disable == nullptr) return std::nullopt;
  return disable(&saved) != FALSE;
}

std::optional<bool> Win32FileSystem::RevertWow64FsRedirection(RedirectionState saved) {
  using Revert = BOOL(WINAPI*)(PVOID);
  const auto revert = LookUpEntry<Revert>(L"kernel32", "Wow64RevertWow64FsRedirection");
  if (revert == nullptr) return std::nullopt;
  return revert(saved) != FALSE;
}

FileHandle Win32FileSystem::OpenDirectory(const std::wstring& path) {
  // Sharing binds only handles that may read, write or delete: one that can
  // only read attributes would let the directory be renamed all the same.
  return ToOpaque<FileHandle>(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

FileHandle Win32FileSystem::OpenName(const std::wstring& path) {
  return ToOpaque<FileHandle>(
      CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

namespace {

// A DACL that lets this process's user read and nothing more, in `descriptor`
// (and `acl`, which it points into); `otherReader`, a SID when not empty, may
// read too. The OWNER RIGHTS entry takes the place of the owner's implicit
// right to change the DACL; the DACL is protected, so that the directory's
// inheritable entries (full control for the user, as a rule) are not added to
// it.
bool ReadOnlyForThisUser(const std::vector<std::uint8_t>& otherReader, std::vector<BYTE>& acl,
                         SECURITY_DESCRIPTOR& descriptor) {
  std::optional<std::vector<BYTE>> user = TokenUserOf(GetCurrentProcess());
  BYTE ownerRights[SECURITY_MAX_SID_SIZE];
  DWORD ownerRightsSize = sizeof(ownerRights);
  if (!user ||
      !CreateWellKnownSid(WinCreatorOwnerRightsSid, nullptr, ownerRights, &ownerRightsSize)) {
    return false;
  }
  // A copy, aligned as a SID must be.
  std::vector<DWORD> reader((otherReader.size() + sizeof(DWORD) - 1) / sizeof(DWORD));
  if (!otherReader.empty()) std::memcpy(reader.data(), otherReader.data(), otherReader.size());
  const PSID readerSid = reader.empty() ? nullptr : reader.data();
  if (readerSid != nullptr &&
      (!IsValidSid(readerSid) || GetLengthSid(readerSid) != otherReader.size())) {
    return false;
  }
  const PSID userSid = SidOf(*user);
  const DWORD entrySize = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
  // Allocated memory is aligned for an ACL.
  acl.resize(sizeof(ACL) + 3 * entrySize + GetLengthSid(userSid) + ownerRightsSize +
             otherReader.size());
  auto* const list = reinterpret_cast<ACL*>(acl.data());
  return InitializeAcl(list, static_cast<DWORD>(acl.size()), ACL_REVISION) &&
         AddAccessAllowedAce(list, ACL_REVISION, FILE_GENERIC_READ, userSid) &&
         AddAccessAllowedAce(list, ACL_REVISION, FILE_GENERIC_READ, ownerRights) &&
         (readerSid == nullptr ||
          AddAccessAllowedAce(list, ACL_REVISION, FILE_GENERIC_READ, readerSid)) &&
         InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) &&
         SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

}  // namespace

FileHandle Win32FileSystem::CreateNewFile(const std::wstring& path,
                                          const std::vector<std::uint8_t>& otherReader) {
  std::vector<BYTE> acl;
  SECURITY_DESCRIPTOR descriptor{};
  if (!ReadOnlyForThisUser(otherReader, acl, descriptor)) return nullptr;
  SECURITY_ATTRIBUTES security{sizeof(security), &descriptor, FALSE};
  // FILE_FLAG_OPEN_REPARSE_POINT: a link at the name is the file itself, which
  // exists, so the creation fails instead of following it. The new file's
  // DACL does not bind this handle: its access is granted at creation.
  return ToOpaque<FileHandle>(
      CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, &security, CREATE_NEW,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

FileHandle Win32FileSystem::ReOpenForReading(FileHandle file, std::uint32_t shareMode) {
  return ToOpaque<FileHandle>(ReOpenFile(ToNative<HANDLE>(file), GENERIC_READ, shareMode, 0));
}

std::optional<std::wstring> Win32FileSystem::GetFinalPath(FileHandle file, FinalPathForm form) {
  const DWORD volume = form == FinalPathForm::kNtDevice ? VOLUME_NAME_NT : VOLUME_NAME_DOS;
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(ToNative<HANDLE>(file), path.data(),
                                  static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED | volume);
    if (length == 0) return std::nullopt;
    // Too small: the length asked for counts the terminating NUL.
    if (length >= path.size()) {
      path.resize(length);
      continue;
    }
    path.resize(length);
    return path;
  }
}

bool Win32FileSystem::EqualIgnoringCase(const std::wstring& left, const std::wstring& right) {
  if (left.size() > INT_MAX || right.size() > INT_MAX) return false;
  return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                              static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

bool Win32FileSystem::DeleteWhenClosed(FileHandle file) {
  // Its one member is named after a macro of the headers, so it is set by
  // position.
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(ToNative<HANDLE>(file), FileDispositionInfo, &disposition,
                                    sizeof(disposition)) != FALSE;
}

std::size_t Win32FileSystem::Write(FileHandle file, const std::uint8_t* data, std::size_t size) {
  // One call; whoever writes goes on after a partial write.
  const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
  DWORD written = 0;
  if (!::WriteFile(ToNative<HANDLE>(file), data, chunk, &written, nullptr)) return 0;
  return written;
}

bool Win32FileSystem::Close(FileHandle file) {
  return ::CloseHandle(ToNative<HANDLE>(file)) != FALSE;
}

}  // namespace platform::win32
