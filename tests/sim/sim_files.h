// The simulated file system: a tree of files and directories, the shell's
// delete, the list of deletions pending until the next boot, and the WOW64
// redirection of the system directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "tests/sim/sim_core.h"
#include "tests/sim/sim_errors.h"

namespace sim {

// What the shell's delete returns for a missing item whose parent is missing too.
inline constexpr int kShellErrorInvalidLevel = 124;

// The native system directory, and where a 32-bit process under WOW64 lands
// when it names it with redirection on.
inline constexpr wchar_t kSystemDirectory[] = L"C:\\Windows\\system32";
inline constexpr wchar_t kWow64SystemDirectory[] = L"C:\\Windows\\SysWOW64";
// The alias through which such a process reaches the native one with
// redirection on; with it off, the alias does not exist.
inline constexpr wchar_t kNativeAliasDirectory[] = L"C:\\Windows\\Sysnative";

// One call of the file system, with the path as given and the item it reached.
struct FileCall {
  std::wstring call;
  std::wstring path;
  std::wstring resolved;
  bool redirectionOff = false;
};

class SimFiles : public platform::FileSystem {
 public:
  explicit SimFiles(SimCore& core);

  // --- The tree, always by the native (physical) path. ---

  // Creates the item and every directory above it that is missing.
  void AddFile(const std::wstring& path, std::vector<std::uint8_t> content = {});
  void AddDirectory(const std::wstring& path);
  bool Exists(const std::wstring& path) const;
  bool IsDirectory(const std::wstring& path) const;
  // Every item at or below `path`, folded, in order.
  std::vector<std::wstring> ItemsBelow(const std::wstring& path) const;
  std::optional<std::vector<std::uint8_t>> FileContent(const std::wstring& path) const;

  // Held open by another process without share-delete (32), or a running
  // program or loaded DLL (`error` 5): deleting it fails with `error`, and the
  // shell's delete of a directory holding it too, after deleting everything
  // else.
  void SetInUse(const std::wstring& path, bool inUse = true,
                std::uint32_t error = kErrorSharingViolation);
  // Held open by another process that shares delete (Explorer showing a
  // folder, a virus scanner): deleting it succeeds, but it stays "delete
  // pending" until that handle closes, which the run never sees, and refuses
  // every look and deletion with access denied meanwhile.
  void ShareDelete(const std::wstring& path) { Item(path).sharesDelete = true; }
  // A junction or directory link: its attributes carry the reparse-point
  // bit, and its parent's listing shows it as a plain entry, as the real
  // listing does. What lies below it in the tree is what it leads to; the
  // shell's delete of a directory above it goes through it like any other
  // (a test that needs otherwise sets the shell's result).
  // On a file: a symbolic link to a file, removed by DeleteFileW.
  void SetLink(const std::wstring& path, bool link = true);
  // A link, as above, that leads to `target`: the final path of a file
  // created below it lies below `target`.
  void SetLinkTarget(const std::wstring& path, const std::wstring& target);
  // `shortPath` is the short (8.3) form of `longPath`, which exists; calls
  // that name it reach the item at `longPath`.
  void AddShortName(const std::wstring& shortPath, const std::wstring& longPath);
  // Another program plants a file at `path` again as soon as it is deleted.
  void SetRecreatedAfterDeletion(const std::wstring& path);
  // Read-only: DeleteFileW or a shell delete naming it fails with 5; inside a
  // deleted directory it goes all the same.
  void SetReadOnly(const std::wstring& path, bool readOnly = true);
  // Guarded: its attributes cannot be read, and neither DeleteFileW nor the
  // shell can delete it (`error`).
  void DenyAccess(const std::wstring& path, std::uint32_t error = 5);
  // The shell's delete of this path returns `result` and changes nothing.
  void SetShellResult(const std::wstring& path, int result);
  // Scheduling deletion at the next boot fails with `error`: for this path
  // only, or for every path.
  void FailDeleteAtReboot(const std::wstring& path, std::uint32_t error);
  void FailEveryDeleteAtReboot(std::uint32_t error) { deleteAtRebootError_ = error; }
  // Listing this directory fails with `error`.
  void FailListing(const std::wstring& path, std::uint32_t error);

  // The paths recorded for deletion at the next boot, as the items they reach,
  // in order.
  const std::vector<std::wstring>& pendingDeletes() const { return pendingDeletes_; }

  // --- WOW64 redirection (this thread's). ---

  // Whether kernel32 provides the disable and revert entries.
  void SetDisableEntryPresent(bool present) { disablePresent_ = present; }
  void SetRevertEntryPresent(bool present) { revertPresent_ = present; }
  // The disable or revert call fails with `error` (0: it succeeds).
  void FailDisable(std::uint32_t error) { disableError_ = error; }
  void FailRevert(std::uint32_t error) { revertError_ = error; }
  // The value that the disable call hands back for the revert (Wine: zero).
  void SetSavedRedirectionValue(platform::RedirectionState value) { savedValue_ = value; }
  bool redirectionOff() const { return redirectionOff_; }
  int disableCalls() const { return disableCalls_; }
  int revertCalls() const { return revertCalls_; }

  // --- What happened. ---

  // Every call, in order, with the redirection state during it.
  const std::vector<FileCall>& fileCalls() const { return fileCalls_; }
  // Files opened for writing and not closed yet; bad handles given to calls.
  std::size_t OpenFiles() const;
  const std::vector<std::wstring>& misuses() const { return misuses_; }

  // --- Files for writing. ---

  // Creating a file fails with `error` (0: it succeeds).
  void FailCreateNewFile(std::uint32_t error) { createNewFileError_ = error; }
  // The other account (a SID) that the last CreateNewFile let read its file.
  const std::vector<std::uint8_t>& lastOtherReader() const { return lastOtherReader_; }
  // Each write takes at most this many bytes (0: all).
  void SetWriteChunk(std::size_t maxBytes) { writeChunk_ = maxBytes; }
  // The disk is full once a file holds this many bytes.
  void SetDiskSpace(std::optional<std::size_t> bytes) { diskSpace_ = bytes; }
  // Closing fails with `error` (the handle is closed all the same).
  void FailClose(std::uint32_t error) { closeError_ = error; }
  // Runs `action` once, as the next call named `call` (as in fileCalls, or
  // ReOpenForReading) starts:
  // another program acting in between two of the tool's calls.
  void BeforeCall(const std::wstring& call, std::function<void()> action) {
    beforeCalls_.emplace_back(call, std::move(action));
  }
  // Whether another program could open the item now with `access` (in the
  // bits of the share modes) and `share`, as far as the handles open on it
  // allow.
  bool CanOpen(const std::wstring& path, std::uint32_t access, std::uint32_t share) const;

  // --- platform::FileSystem ---

  std::uint32_t GetFileAttributes(const std::wstring& path) override;
  bool SetFileAttributes(const std::wstring& path, std::uint32_t attributes) override;
  bool DeleteFile(const std::wstring& path) override;
  int ShellDelete(const std::wstring& path) override;
  bool DeleteAtReboot(const std::wstring& path) override;
  std::optional<std::vector<platform::DirectoryEntry>> ListDirectory(
      const std::wstring& directory) override;
  std::optional<bool> DisableWow64FsRedirection(platform::RedirectionState& saved) override;
  std::optional<bool> RevertWow64FsRedirection(platform::RedirectionState saved) override;
  platform::FileHandle OpenDirectory(const std::wstring& path) override;
  platform::FileHandle OpenName(const std::wstring& path) override;
  platform::FileHandle CreateNewFile(const std::wstring& path,
                                     const std::vector<std::uint8_t>& otherReader = {}) override;
  platform::FileHandle ReOpenForReading(platform::FileHandle file,
                                        std::uint32_t shareMode) override;
  // "\Device\HarddiskVolumeN\..." for drive N (A is 1), "\Device\Mup\..."
  // for a UNC path; in the drive form "\\?\X:\..." or "\\?\UNC\...".
  std::optional<std::wstring> GetFinalPath(platform::FileHandle file,
                                           platform::FinalPathForm form) override;
  // Folds case as the simulated tree does (FoldCase).
  bool EqualIgnoringCase(const std::wstring& left, const std::wstring& right) override;
  bool DeleteWhenClosed(platform::FileHandle file) override;
  std::size_t Write(platform::FileHandle file, const std::uint8_t* data, std::size_t size) override;
  bool Close(platform::FileHandle file) override;

 private:
  struct SimItem {
    std::wstring path;  // as created
    bool isDirectory = false;
    bool inUse = false;
    std::uint32_t inUseError = kErrorSharingViolation;
    bool readOnly = false;
    bool isLink = false;
    bool sharesDelete = false;
    bool deletePending = false;
    std::uint32_t accessError = 0;
    std::uint32_t listError = 0;
    std::optional<int> shellResult;
    std::wstring linkTarget;
    std::vector<std::uint8_t> content;
  };
  struct OpenFile {
    platform::FileHandle handle = nullptr;
    std::wstring folded;
    std::uint32_t access = 0;  // in the bits of the share modes
    std::uint32_t share = 0;
    bool followsLink = false;  // a link at the name itself led on
    bool open = true;
    bool deleteWhenClosed = false;
  };

  // After a deletion at `folded`: what another program puts back at once.
  void Replant(const std::wstring& folded);
  // The physical path that `named` reaches now, as the process sees it.
  std::wstring Resolve(const std::wstring& named) const;
  SimItem* Find(const std::wstring& physical);
  const SimItem* Find(const std::wstring& physical) const;
  SimItem& Item(const std::wstring& physical);
  bool ParentExists(const std::wstring& folded) const;
  bool HasChildren(const std::wstring& folded) const;
  // Held open elsewhere, or opened for writing here and not closed.
  bool IsHeld(const std::wstring& folded, const SimItem& item) const;
  OpenFile* FindOpen(platform::FileHandle file, const wchar_t* call);
  bool SharingAllows(const std::wstring& folded, std::uint32_t access, std::uint32_t share) const;
  platform::FileHandle NewHandle(OpenFile open);
  // Deletes the item, or leaves it delete pending when held with delete sharing.
  void Remove(const std::wstring& folded);
  std::wstring Record(const wchar_t* call, const std::wstring& path);
  void RunBeforeCall(const wchar_t* call);
  void AddItem(const std::wstring& path, bool isDirectory);

  SimCore& core_;
  std::map<std::wstring, SimItem> items_;  // by folded physical path
  std::uint32_t deleteAtRebootError_ = 0;
  std::map<std::wstring, std::uint32_t> deleteAtRebootErrors_;  // by folded path
  std::vector<std::wstring> pendingDeletes_;
  bool disablePresent_ = true;
  bool revertPresent_ = true;
  std::uint32_t disableError_ = 0;
  std::uint32_t revertError_ = 0;
  platform::RedirectionState savedValue_ = nullptr;
  bool redirectionOff_ = false;
  int disableCalls_ = 0;
  int revertCalls_ = 0;
  std::vector<FileCall> fileCalls_;
  std::vector<std::wstring> misuses_;
  std::uint32_t createNewFileError_ = 0;
  std::vector<std::uint8_t> lastOtherReader_;
  std::map<std::wstring, std::wstring> shortNames_;  // folded short path -> long path
  std::map<std::wstring, std::wstring> replanted_;   // folded path -> path
  std::size_t writeChunk_ = 0;
  std::optional<std::size_t> diskSpace_;
  std::uint32_t closeError_ = 0;
  std::vector<OpenFile> openFiles_;
  std::vector<std::pair<std::wstring, std::function<void()>>> beforeCalls_;
  std::uintptr_t nextHandle_ = 0xF10000;
};

}  // namespace sim
