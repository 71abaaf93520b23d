// The file system, the shell's delete, and WOW64 file-system redirection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_handle.h"

namespace platform {

inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr std::uint32_t kFileAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;
// A junction, symbolic link or other reparse point: what it leads to lies
// elsewhere.
inline constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;

// The value that Wow64DisableWow64FsRedirection hands back for the revert.
using RedirectionState = void*;

// One entry of a directory listing.
struct DirectoryEntry {
  std::wstring name;
  bool isDirectory = false;
};

inline constexpr std::uint32_t kFileShareRead = 0x01;
inline constexpr std::uint32_t kFileShareWrite = 0x02;
inline constexpr std::uint32_t kFileShareDelete = 0x04;

// The forms of a final path. kNtDevice: "\Device\HarddiskVolume2\..." or
// "\Device\Mup\server\share\...", one form for every kind of volume, with or
// without a drive letter, a subst or mapped drive letter naming the same place
// as the volume: the form to compare. kDrive: "\\?\C:\..." or
// "\\?\UNC\server\share\...", through the volume's drive letter: a form that
// programs open; none for a volume without a letter.
enum class FinalPathForm { kNtDevice, kDrive };

struct FileTag;
// A file or directory opened through the file system.
using FileHandle = FileTag*;

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // GetFileAttributesW; kInvalidFileAttributes on any failure, with the error
  // code as the thread's last error.
  [[nodiscard]] virtual std::uint32_t GetFileAttributes(const std::wstring& path) = 0;
  // SetFileAttributesW. On failure the error code is the thread's last error.
  [[nodiscard]] virtual bool SetFileAttributes(const std::wstring& path,
                                               std::uint32_t attributes) = 0;
  // DeleteFileW. On failure the error code is the thread's last error.
  [[nodiscard]] virtual bool DeleteFile(const std::wstring& path) = 0;

  // SHFileOperationW FO_DELETE of one item with FOF_SILENT | FOF_NOCONFIRMATION |
  // FOF_NOERRORUI: permanent, no window. Returns the operation's result. The
  // shell loads DLLs, so it is never called with WOW64 redirection off.
  [[nodiscard]] virtual int ShellDelete(const std::wstring& path) = 0;

  // MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT). On failure the
  // error code is the thread's last error.
  [[nodiscard]] virtual bool DeleteAtReboot(const std::wstring& path) = 0;

  // FindFirstFileW/FindNextFileW over `directory`, without "." and "..". A
  // junction or link to a directory is listed as a plain entry, so that a
  // walk of the tree never goes where it leads. Nothing when the directory
  // cannot be listed, with the error code as the thread's last error.
  [[nodiscard]] virtual std::optional<std::vector<DirectoryEntry>> ListDirectory(
      const std::wstring& directory) = 0;

  // Wow64DisableWow64FsRedirection and Wow64RevertWow64FsRedirection, looked up
  // by name in kernel32 on every call. Nothing when the entry does not exist,
  // otherwise whether the call succeeded.
  [[nodiscard]] virtual std::optional<bool> DisableWow64FsRedirection(RedirectionState& saved) = 0;
  [[nodiscard]] virtual std::optional<bool> RevertWow64FsRedirection(RedirectionState saved) = 0;

  // CreateFileW(FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
  // OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS): a directory, every link on the
  // way followed, held so that it can be neither deleted nor renamed while the
  // handle is open. No handle on failure (see UniqueFileHandle).
  [[nodiscard]] virtual FileHandle OpenDirectory(const std::wstring& path) = 0;
  // CreateFileW(DELETE | FILE_READ_ATTRIBUTES, all sharing, OPEN_EXISTING,
  // FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS): whatever holds
  // the name (a file, a directory, a link itself, never what a link there
  // leads to), for deletion through the handle. No handle on failure.
  [[nodiscard]] virtual FileHandle OpenName(const std::wstring& path) = 0;
  // CreateFileW with CREATE_NEW and FILE_FLAG_OPEN_REPARSE_POINT, for writing
  // and deletion, shared with others for reading only: fails when anything at
  // all holds the name, a link included, and never follows one there. The
  // file's security lets this process's user, and its owner, read it and
  // nothing more (no inherited entries), so that only this handle and those
  // made from it can ever change it. The account `otherReader` (a SID, byte
  // for byte), when one is given, may read it too. No handle on failure.
  [[nodiscard]] virtual FileHandle CreateNewFile(
      const std::wstring& path, const std::vector<std::uint8_t>& otherReader = {}) = 0;
  // ReOpenFile(file, GENERIC_READ, shareMode, 0): the same file, for reading,
  // whatever has become of its name. Fails (no handle) when another open
  // handle's access or sharing conflicts, this one's included.
  [[nodiscard]] virtual FileHandle ReOpenForReading(FileHandle file, std::uint32_t shareMode) = 0;
  // GetFinalPathNameByHandleW(FILE_NAME_NORMALIZED | VOLUME_NAME_NT, or
  // VOLUME_NAME_DOS): where the file or directory really is, every link on
  // the way resolved. Nothing on failure.
  [[nodiscard]] virtual std::optional<std::wstring> GetFinalPath(FileHandle file,
                                                                 FinalPathForm form) = 0;
  // CompareStringOrdinal(left, right, TRUE): equal as file names compare,
  // letter case ignored in every script.
  [[nodiscard]] virtual bool EqualIgnoringCase(const std::wstring& left,
                                               const std::wstring& right) = 0;
  // SetFileInformationByHandle(FileDispositionInfo): the file, empty
  // directory or link goes when the handle is closed. Fails for a read-only
  // file or a directory that holds anything.
  [[nodiscard]] virtual bool DeleteWhenClosed(FileHandle file) = 0;
  // WriteFile, once: writes up to `size` bytes and returns how many were
  // written, 0 on failure.
  [[nodiscard]] virtual std::size_t Write(FileHandle file, const std::uint8_t* data,
                                          std::size_t size) = 0;
  // Closes the file; false when flushing or closing failed.
  [[nodiscard]] virtual bool Close(FileHandle file) = 0;
};

// A file opened through the file system. The calls above hand out what
// Windows gives, so a failure is null or INVALID_HANDLE_VALUE: the holder
// tells which is a handle.
using UniqueFileHandle =
    UniqueAny<FileHandle, FacilityCloser<FileSystem, &FileSystem::Close>, NullOrAllBitsSetIsNone>;

}  // namespace platform
