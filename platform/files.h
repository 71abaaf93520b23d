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

struct FileTag;
// A file opened for writing.
using FileHandle = FileTag*;

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // GetFileAttributesW; kInvalidFileAttributes on any failure, with the error
  // code as the thread's last error.
  virtual std::uint32_t GetFileAttributes(const std::wstring& path) = 0;
  // SetFileAttributesW. On failure the error code is the thread's last error.
  virtual bool SetFileAttributes(const std::wstring& path, std::uint32_t attributes) = 0;
  // DeleteFileW. On failure the error code is the thread's last error.
  virtual bool DeleteFile(const std::wstring& path) = 0;

  // SHFileOperationW FO_DELETE of one item with FOF_SILENT | FOF_NOCONFIRMATION |
  // FOF_NOERRORUI: permanent, no window. Returns the operation's result. The
  // shell loads DLLs, so it is never called with WOW64 redirection off.
  virtual int ShellDelete(const std::wstring& path) = 0;

  // MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT). On failure the
  // error code is the thread's last error.
  virtual bool DeleteAtReboot(const std::wstring& path) = 0;

  // FindFirstFileW/FindNextFileW over `directory`, without "." and "..". A
  // junction or link to a directory is listed as a plain entry, so that a
  // walk of the tree never goes where it leads. Nothing when the directory
  // cannot be listed.
  virtual std::optional<std::vector<DirectoryEntry>> ListDirectory(
      const std::wstring& directory) = 0;

  // Wow64DisableWow64FsRedirection and Wow64RevertWow64FsRedirection, looked up
  // by name in kernel32 on every call. Nothing when the entry does not exist,
  // otherwise whether the call succeeded.
  virtual std::optional<bool> DisableWow64FsRedirection(RedirectionState& saved) = 0;
  virtual std::optional<bool> RevertWow64FsRedirection(RedirectionState saved) = 0;

  // RemoveDirectoryW: an empty directory, or a junction or directory link
  // itself, whatever it leads to. On failure the error code is the thread's
  // last error.
  virtual bool RemoveDirectory(const std::wstring& path) = 0;

  // CreateFileW with CREATE_NEW and FILE_FLAG_OPEN_REPARSE_POINT, for writing
  // (and for deletion), shared with others for reading and writing: fails when
  // anything at all holds the name, a link included, and never follows one
  // there. Null on failure.
  virtual FileHandle CreateNewFile(const std::wstring& path) = 0;
  // GetFinalPathNameByHandleW(FILE_NAME_NORMALIZED | VOLUME_NAME_DOS): where
  // the file really is, every link on the way resolved, as "\\?\C:\..." or
  // "\\?\UNC\server\share\...". Nothing on failure.
  virtual std::optional<std::wstring> GetFinalPath(FileHandle file) = 0;
  // GetLongPathNameW: the path of an existing item with its short (8.3) names
  // replaced by the long ones. Nothing on failure.
  virtual std::optional<std::wstring> GetLongPathName(const std::wstring& path) = 0;
  // SetFileInformationByHandle(FileDispositionInfo): the file goes when it is
  // closed.
  virtual bool DeleteWhenClosed(FileHandle file) = 0;
  // Writes up to `size` bytes; returns how many were written.
  virtual std::size_t Write(FileHandle file, const std::uint8_t* data, std::size_t size) = 0;
  // Closes the file; false when flushing or closing failed.
  virtual bool Close(FileHandle file) = 0;
};

// A file opened through the file system.
using UniqueFileHandle = UniqueAny<FileHandle, FacilityCloser<FileSystem, &FileSystem::Close>>;

}  // namespace platform
