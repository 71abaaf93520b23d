#include "tests/sim/sim_files.h"

#include <algorithm>
#include <utility>

#include "tests/sim/sim_text.h"

namespace sim {
namespace {

constexpr std::uint32_t kFileAttributeReadOnly = 0x01;
constexpr std::uint32_t kFileAttributeArchive = 0x20;

}  // namespace

SimFiles::SimFiles(SimCore& core) : core_(core) {
  AddDirectory(L"C:\\Windows\\system32\\drivers");
  AddDirectory(L"C:\\Windows\\SysWOW64\\drivers");
  AddDirectory(L"C:\\Program Files");
  AddDirectory(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
}

// --- The tree ---

void SimFiles::AddItem(const std::wstring& path, bool isDirectory) {
  // Every directory above the item, below the drive's root.
  for (std::size_t end = path.find(L'\\', path.find(L'\\') + 1); end != std::wstring::npos;
       end = path.find(L'\\', end + 1)) {
    const std::wstring directory = path.substr(0, end);
    SimItem& item = items_[FoldCase(directory)];
    if (item.path.empty()) {
      item.path = directory;
      item.isDirectory = true;
    }
  }
  SimItem& item = items_[FoldCase(path)];
  item.path = path;
  item.isDirectory = isDirectory;
}

void SimFiles::AddFile(const std::wstring& path, std::vector<std::uint8_t> content) {
  AddItem(path, false);
  items_[FoldCase(path)].content = std::move(content);
}

void SimFiles::AddDirectory(const std::wstring& path) { AddItem(path, true); }

bool SimFiles::Exists(const std::wstring& path) const { return Find(path) != nullptr; }

bool SimFiles::IsDirectory(const std::wstring& path) const {
  const SimItem* item = Find(path);
  return item != nullptr && item->isDirectory;
}

std::vector<std::wstring> SimFiles::ItemsBelow(const std::wstring& path) const {
  const std::wstring folded = FoldCase(path);
  std::vector<std::wstring> found;
  for (auto it = items_.lower_bound(folded); it != items_.end(); ++it) {
    if (IsAtOrBelow(it->first, folded)) {
      found.push_back(it->first);
    } else if (it->first.compare(0, folded.size(), folded) != 0) {
      break;
    }
  }
  return found;
}

std::optional<std::vector<std::uint8_t>> SimFiles::FileContent(const std::wstring& path) const {
  const SimItem* item = Find(path);
  if (item == nullptr || item->isDirectory) {
    return std::nullopt;
  }
  return item->content;
}

SimFiles::SimItem* SimFiles::Find(const std::wstring& physical) {
  const auto found = items_.find(FoldCase(physical));
  return found == items_.end() ? nullptr : &found->second;
}

const SimFiles::SimItem* SimFiles::Find(const std::wstring& physical) const {
  const auto found = items_.find(FoldCase(physical));
  return found == items_.end() ? nullptr : &found->second;
}

SimFiles::SimItem& SimFiles::Item(const std::wstring& physical) {
  if (Find(physical) == nullptr) {
    AddFile(physical);
  }
  return *Find(physical);
}

void SimFiles::SetInUse(const std::wstring& path, bool inUse, std::uint32_t error) {
  SimItem& item = Item(path);
  item.inUse = inUse;
  item.inUseError = error;
}

void SimFiles::SetLink(const std::wstring& path, bool link) { Item(path).isLink = link; }

void SimFiles::SetLinkTarget(const std::wstring& path, const std::wstring& target) {
  SimItem& item = Item(path);
  item.isLink = true;
  item.linkTarget = target;
}

void SimFiles::AddShortName(const std::wstring& shortPath, const std::wstring& longPath) {
  shortNames_[FoldCase(shortPath)] = longPath;
}

void SimFiles::SetRecreatedAfterDeletion(const std::wstring& path) {
  replanted_[FoldCase(path)] = path;
}

void SimFiles::Replant(const std::wstring& folded) {
  const auto found = replanted_.find(folded);
  if (found != replanted_.end()) {
    AddFile(found->second);
  }
}

void SimFiles::SetReadOnly(const std::wstring& path, bool readOnly) {
  Item(path).readOnly = readOnly;
}

void SimFiles::DenyAccess(const std::wstring& path, std::uint32_t error) {
  Item(path).accessError = error;
}

void SimFiles::SetShellResult(const std::wstring& path, int result) {
  Item(path).shellResult = result;
}

void SimFiles::FailDeleteAtReboot(const std::wstring& path, std::uint32_t error) {
  deleteAtRebootErrors_[FoldCase(path)] = error;
}

void SimFiles::FailListing(const std::wstring& path, std::uint32_t error) {
  Item(path).listError = error;
}

bool SimFiles::ParentExists(const std::wstring& folded) const {
  const std::size_t slash = folded.rfind(L'\\');
  if (slash == std::wstring::npos) {
    return true;
  }
  const std::wstring parent = folded.substr(0, slash);
  // The drive's root always exists.
  return parent.find(L'\\') == std::wstring::npos || items_.contains(parent);
}

bool SimFiles::HasChildren(const std::wstring& folded) const {
  const std::wstring prefix = folded + L"\\";
  const auto below = items_.lower_bound(prefix);
  return below != items_.end() && below->first.compare(0, prefix.size(), prefix) == 0;
}

bool SimFiles::IsHeld(const std::wstring& folded, const SimItem& item) const {
  return item.inUse || !SharingAllows(folded, platform::kFileShareDelete,
                                      platform::kFileShareRead | platform::kFileShareWrite |
                                          platform::kFileShareDelete);
}

bool SimFiles::SharingAllows(const std::wstring& folded, std::uint32_t access,
                             std::uint32_t share) const {
  return std::none_of(openFiles_.begin(), openFiles_.end(), [&](const OpenFile& file) {
    return file.open && file.folded == folded &&
           ((access & ~file.share) != 0 || (file.access & ~share) != 0);
  });
}

bool SimFiles::CanOpen(const std::wstring& path, std::uint32_t access, std::uint32_t share) const {
  const std::wstring resolved = Resolve(path);
  return Find(resolved) != nullptr && SharingAllows(FoldCase(resolved), access, share);
}

std::wstring SimFiles::Resolve(const std::wstring& named) const {
  // A verbatim path names what its plain form names, and keeps the dots and
  // spaces at its end, which a plain path drops.
  const std::wstring given = named.rfind(L"\\\\?\\UNC\\", 0) == 0 ? L"\\\\" + named.substr(8)
                             : named.rfind(L"\\\\?\\", 0) == 0
                                 ? named.substr(4)
                                 : named.substr(0, named.find_last_not_of(L". ") + 1);
  // Windows reads backslashes in a row (past a UNC path's two) as one.
  std::wstring path = given.substr(0, 2);
  for (std::size_t i = path.size(); i < given.size(); ++i) {
    if (given[i] != L'\\' || path.back() != L'\\') {
      path.push_back(given[i]);
    }
  }
  for (const auto& [shortPath, longPath] : shortNames_) {
    if (IsAtOrBelow(FoldCase(path), shortPath)) {
      path.replace(0, shortPath.size(), longPath);
      break;
    }
  }
  // A path through a link's target reaches what the tree keeps below the
  // link, unless the target is an item of its own.
  for (const auto& [folded, item] : items_) {
    if (!item.linkTarget.empty() && Find(item.linkTarget) == nullptr &&
        IsAtOrBelow(FoldCase(path), FoldCase(item.linkTarget))) {
      path = item.path + path.substr(item.linkTarget.size());
      break;
    }
  }
  const std::wstring system = kSystemDirectory;
  const std::wstring alias = kNativeAliasDirectory;
  if (!core_.wow64 || redirectionOff_) {
    return path;
  }
  if (IsAtOrBelow(FoldCase(path), FoldCase(alias))) {
    return system + path.substr(alias.size());
  }
  if (!IsAtOrBelow(FoldCase(path), FoldCase(system))) {
    return path;
  }
  // Real Windows exempts a few subdirectories (drivers\etc among them); the
  // tool touches none of them.
  return kWow64SystemDirectory + path.substr(system.size());
}

void SimFiles::RunBeforeCall(const wchar_t* call) {
  for (auto it = beforeCalls_.begin(); it != beforeCalls_.end(); ++it) {
    if (it->first == call) {
      const std::function<void()> action = std::move(it->second);
      beforeCalls_.erase(it);
      action();
      return;
    }
  }
}

std::wstring SimFiles::Record(const wchar_t* call, const std::wstring& path) {
  RunBeforeCall(call);
  std::wstring resolved = Resolve(path);
  fileCalls_.push_back({call, path, resolved, redirectionOff_});
  core_.calls.push_back(std::wstring(L"Files.") + call + L" " + path);
  return resolved;
}

std::size_t SimFiles::OpenFiles() const {
  return static_cast<std::size_t>(std::count_if(openFiles_.begin(), openFiles_.end(),
                                                [](const OpenFile& file) { return file.open; }));
}

// --- platform::FileSystem ---

std::uint32_t SimFiles::GetFileAttributes(const std::wstring& path) {
  const std::wstring resolved = Record(L"GetFileAttributes", path);
  const SimItem* item = Find(resolved);
  if (item == nullptr) {
    core_.lastError = ParentExists(FoldCase(resolved)) ? kErrorFileNotFound : kErrorPathNotFound;
    return platform::kInvalidFileAttributes;
  }
  if (item->accessError != 0 || item->deletePending) {
    core_.lastError = item->deletePending ? kErrorAccessDenied : item->accessError;
    return platform::kInvalidFileAttributes;
  }
  std::uint32_t attributes =
      item->isDirectory ? platform::kFileAttributeDirectory : kFileAttributeArchive;
  if (item->readOnly) {
    attributes |= kFileAttributeReadOnly;
  }
  if (item->isLink) {
    attributes |= platform::kFileAttributeReparsePoint;
  }
  return attributes;
}

bool SimFiles::SetFileAttributes(const std::wstring& path, std::uint32_t attributes) {
  SimItem* item = Find(Record(L"SetFileAttributes", path));
  if (item == nullptr || item->accessError != 0) {
    core_.lastError = item == nullptr ? kErrorFileNotFound : item->accessError;
    return false;
  }
  item->readOnly = (attributes & kFileAttributeReadOnly) != 0;
  return true;
}

bool SimFiles::DeleteFile(const std::wstring& path) {
  const std::wstring folded = FoldCase(Record(L"DeleteFile", path));
  const auto found = items_.find(folded);
  std::uint32_t error = found == items_.end() ? kErrorFileNotFound : found->second.accessError;
  if (error == 0 &&
      (found->second.isDirectory || found->second.readOnly || found->second.deletePending)) {
    error = kErrorAccessDenied;
  } else if (error == 0 && IsHeld(folded, found->second)) {
    error = found->second.inUse ? found->second.inUseError : kErrorSharingViolation;
  }
  if (error != 0) {
    core_.lastError = error;
    return false;
  }
  Remove(folded);
  Replant(folded);
  return true;
}

void SimFiles::Remove(const std::wstring& folded) {
  SimItem& item = items_.at(folded);
  if (item.sharesDelete) {
    item.deletePending = true;
  } else {
    items_.erase(folded);
  }
}

int SimFiles::ShellDelete(const std::wstring& path) {
  // The shell loads DLLs, which fails while redirection is off.
  if (redirectionOff_) {
    misuses_.emplace_back(L"ShellDelete while redirection is off");
  }
  const std::wstring resolved = Record(L"ShellDelete", path);
  const std::wstring folded = FoldCase(resolved);
  const auto found = items_.find(folded);
  if (found == items_.end()) {
    return ParentExists(folded) ? static_cast<int>(kErrorFileNotFound) : kShellErrorInvalidLevel;
  }
  SimItem& item = found->second;
  if (item.shellResult) {
    return *item.shellResult;
  }
  if (!item.isDirectory) {
    if (IsHeld(folded, item)) {
      return static_cast<int>(item.inUse ? item.inUseError : kErrorSharingViolation);
    }
    if (item.readOnly || item.accessError != 0) {
      return static_cast<int>(kErrorAccessDenied);
    }
    Remove(folded);
    return 0;
  }
  if (item.accessError != 0) {
    return static_cast<int>(kErrorAccessDenied);
  }
  // Everything that can go goes, the deepest first; what is held, or refuses,
  // stays with the directories above it.
  std::vector<std::wstring> below = ItemsBelow(resolved);
  std::reverse(below.begin(), below.end());
  std::uint32_t held = 0;  // the code of the first item held
  bool refused = false;
  for (const std::wstring& entry : below) {
    const SimItem& current = items_.at(entry);
    if (current.isDirectory && HasChildren(entry)) {
      continue;
    }
    if (!current.isDirectory && IsHeld(entry, current)) {
      if (held == 0) {
        held = current.inUse ? current.inUseError : kErrorSharingViolation;
      }
      continue;
    }
    if (current.accessError != 0 && entry != folded) {
      refused = true;
      continue;
    }
    Remove(entry);
  }
  if (held != 0) {
    return static_cast<int>(held);
  }
  return refused ? static_cast<int>(kErrorAccessDenied) : 0;
}

bool SimFiles::DeleteAtReboot(const std::wstring& path) {
  const std::wstring resolved = Record(L"DeleteAtReboot", path);
  const auto failure = deleteAtRebootErrors_.find(FoldCase(resolved));
  const std::uint32_t error =
      failure != deleteAtRebootErrors_.end() ? failure->second : deleteAtRebootError_;
  if (error != 0) {
    core_.lastError = error;
    return false;
  }
  // Recorded even for a missing item, as the platform does, and an alias as
  // given: the boot knows no alias.
  const SimItem* item = Find(resolved);
  const bool alias = IsAtOrBelow(FoldCase(path), FoldCase(kNativeAliasDirectory));
  pendingDeletes_.push_back(alias ? path : item != nullptr ? item->path : resolved);
  return true;
}

std::optional<std::vector<platform::DirectoryEntry>> SimFiles::ListDirectory(
    const std::wstring& directory) {
  const std::wstring resolved = Record(L"ListDirectory", directory);
  const SimItem* item = Find(resolved);
  if (item == nullptr) {
    core_.lastError = kErrorPathNotFound;
    return std::nullopt;
  }
  if (!item->isDirectory) {
    core_.lastError = kErrorDirectoryName;
    return std::nullopt;
  }
  if (item->listError != 0) {
    core_.lastError = item->listError;
    return std::nullopt;
  }
  const std::wstring prefix = FoldCase(resolved) + L"\\";
  std::vector<platform::DirectoryEntry> entries;
  for (auto it = items_.lower_bound(prefix);
       it != items_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    if (it->first.find(L'\\', prefix.size()) == std::wstring::npos) {
      entries.push_back(
          {it->second.path.substr(prefix.size()), it->second.isDirectory && !it->second.isLink});
    }
  }
  return entries;
}

std::optional<bool> SimFiles::DisableWow64FsRedirection(platform::RedirectionState& saved) {
  ++disableCalls_;
  if (!disablePresent_) {
    Record(L"DisableWow64FsRedirection missing", L"");
    return std::nullopt;
  }
  Record(L"DisableWow64FsRedirection", L"");
  // 32-bit Windows has the entry but nothing to switch off.
  const std::uint32_t error = !core_.wow64 ? kErrorInvalidFunction : disableError_;
  if (error != 0) {
    core_.lastError = error;
    return false;
  }
  if (redirectionOff_) {
    misuses_.emplace_back(L"DisableWow64FsRedirection while off");
  }
  saved = savedValue_;
  redirectionOff_ = true;
  return true;
}

std::optional<bool> SimFiles::RevertWow64FsRedirection(platform::RedirectionState saved) {
  ++revertCalls_;
  if (!revertPresent_) {
    Record(L"RevertWow64FsRedirection missing", L"");
    return std::nullopt;
  }
  Record(L"RevertWow64FsRedirection", L"");
  if (revertError_ != 0) {
    core_.lastError = revertError_;
    return false;
  }
  if (!redirectionOff_) {
    misuses_.emplace_back(L"RevertWow64FsRedirection while on");
  }
  if (saved != savedValue_) {
    misuses_.emplace_back(L"RevertWow64FsRedirection with another value");
  }
  redirectionOff_ = false;
  return true;
}

platform::FileHandle SimFiles::NewHandle(OpenFile open) {
  open.handle = reinterpret_cast<platform::FileHandle>(nextHandle_);
  nextHandle_ += 4;
  openFiles_.push_back(std::move(open));
  return openFiles_.back().handle;
}

platform::FileHandle SimFiles::OpenDirectory(const std::wstring& path) {
  std::wstring resolved = Record(L"OpenDirectory", path);
  while (resolved.size() > 3 && resolved.back() == L'\\') {
    resolved.pop_back();
  }
  const std::wstring folded = FoldCase(resolved);
  const SimItem* item = Find(resolved);
  if (item == nullptr || item->accessError != 0) {
    core_.lastError = item == nullptr ? kErrorFileNotFound : item->accessError;
    return nullptr;
  }
  return NewHandle(
      {nullptr, folded, 0, platform::kFileShareRead | platform::kFileShareWrite, true});
}

platform::FileHandle SimFiles::OpenName(const std::wstring& path) {
  const std::wstring folded = FoldCase(Record(L"OpenName", path));
  const auto found = items_.find(folded);
  std::uint32_t error = found == items_.end() ? kErrorFileNotFound : found->second.accessError;
  if (error == 0 && found->second.deletePending) {
    error = kErrorAccessDenied;
  } else if (error == 0 && IsHeld(folded, found->second)) {
    error = kErrorSharingViolation;
  }
  if (error != 0) {
    core_.lastError = error;
    return nullptr;
  }
  return NewHandle(
      {nullptr, folded, platform::kFileShareDelete,
       platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete});
}

platform::FileHandle SimFiles::CreateNewFile(const std::wstring& path,
                                             const std::vector<std::uint8_t>& otherReader) {
  const std::wstring resolved = Record(L"CreateNewFile", path);
  const std::wstring folded = FoldCase(resolved);
  std::uint32_t error = createNewFileError_;
  if (error == 0 && Find(resolved) != nullptr) {
    error = kErrorFileExists;
  } else if (error == 0 && !ParentExists(folded)) {
    error = kErrorPathNotFound;
  }
  if (error != 0) {
    core_.lastError = error;
    return nullptr;
  }
  AddFile(resolved);
  lastOtherReader_ = otherReader;
  return NewHandle({nullptr, folded, platform::kFileShareWrite | platform::kFileShareDelete,
                    platform::kFileShareRead});
}

platform::FileHandle SimFiles::ReOpenForReading(platform::FileHandle file,
                                                std::uint32_t shareMode) {
  RunBeforeCall(L"ReOpenForReading");
  core_.calls.push_back(L"Files.ReOpenForReading " + Hex(shareMode));
  const OpenFile* open = FindOpen(file, L"ReOpenForReading");
  if (open == nullptr || Find(open->folded) == nullptr) {
    return nullptr;
  }
  if (!SharingAllows(open->folded, platform::kFileShareRead, shareMode)) {
    core_.lastError = kErrorSharingViolation;
    return nullptr;
  }
  return NewHandle({nullptr, open->folded, platform::kFileShareRead, shareMode, open->followsLink});
}

std::optional<std::wstring> SimFiles::GetFinalPath(platform::FileHandle file,
                                                   platform::FinalPathForm form) {
  core_.calls.emplace_back(L"Files.GetFinalPath");
  const OpenFile* open = FindOpen(file, L"GetFinalPath");
  const SimItem* item = open == nullptr ? nullptr : Find(open->folded);
  if (item == nullptr) {
    return std::nullopt;
  }
  std::wstring path = item->path;
  // The deepest link on the way decides where the item really is; a link at
  // the name itself only when it was followed.
  for (std::size_t end = open->followsLink ? path.size() : path.rfind(L'\\');
       end != std::wstring::npos && end > 0; end = path.rfind(L'\\', end - 1)) {
    const SimItem* above = Find(path.substr(0, end));
    if (above != nullptr && !above->linkTarget.empty()) {
      path = above->linkTarget + path.substr(end);
      break;
    }
  }
  if (form == platform::FinalPathForm::kDrive) {
    return path.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC" + path.substr(1) : L"\\\\?\\" + path;
  }
  if (path.rfind(L"\\\\", 0) == 0) {
    return L"\\Device\\Mup" + path.substr(1);
  }
  const wchar_t drive = path[0] >= L'a' ? static_cast<wchar_t>(path[0] - L'a' + L'A') : path[0];
  return L"\\Device\\HarddiskVolume" + std::to_wstring(drive - L'A' + 1) + path.substr(2);
}

bool SimFiles::EqualIgnoringCase(const std::wstring& left, const std::wstring& right) {
  return FoldCase(left) == FoldCase(right);
}

bool SimFiles::DeleteWhenClosed(platform::FileHandle file) {
  core_.calls.emplace_back(L"Files.DeleteWhenClosed");
  OpenFile* open = FindOpen(file, L"DeleteWhenClosed");
  const SimItem* item = open == nullptr ? nullptr : Find(open->folded);
  if (item == nullptr) {
    return false;
  }
  std::uint32_t error = 0;
  if ((open->access & platform::kFileShareDelete) == 0 || item->readOnly) {
    error = kErrorAccessDenied;
  } else if (item->isDirectory && !item->isLink && HasChildren(open->folded)) {
    error = kErrorDirNotEmpty;
  }
  if (error != 0) {
    core_.lastError = error;
    return false;
  }
  open->deleteWhenClosed = true;
  return true;
}

SimFiles::OpenFile* SimFiles::FindOpen(platform::FileHandle file, const wchar_t* call) {
  for (OpenFile& open : openFiles_) {
    if (open.handle == file && open.open) {
      return &open;
    }
  }
  misuses_.emplace_back(call);
  core_.lastError = kErrorInvalidHandle;
  return nullptr;
}

std::size_t SimFiles::Write(platform::FileHandle file, const std::uint8_t* data, std::size_t size) {
  core_.calls.push_back(L"Files.Write " + std::to_wstring(size));
  OpenFile* open = FindOpen(file, L"Write");
  if (open == nullptr) {
    return 0;
  }
  SimItem* item = Find(open->folded);
  if (item == nullptr) {
    misuses_.emplace_back(L"Write to a deleted file");
    return 0;
  }
  std::size_t count = size;
  if (writeChunk_ != 0) {
    count = std::min(count, writeChunk_);
  }
  if (diskSpace_) {
    const std::size_t room =
        item->content.size() >= *diskSpace_ ? 0 : *diskSpace_ - item->content.size();
    if (room < count) {
      count = room;
      core_.lastError = kErrorDiskFull;
    }
  }
  item->content.insert(item->content.end(), data, data + count);
  return count;
}

bool SimFiles::Close(platform::FileHandle file) {
  core_.calls.emplace_back(L"Files.Close");
  OpenFile* open = FindOpen(file, L"Close");
  if (open == nullptr) {
    return false;
  }
  open->open = false;
  const SimItem* item = Find(open->folded);
  if (open->deleteWhenClosed && item != nullptr) {
    // A link goes by itself; what lies below it in the tree stays where it
    // leads, out of this path's reach.
    for (const std::wstring& below : ItemsBelow(item->path)) {
      if (below != open->folded) {
        items_.erase(below);
      }
    }
    Remove(open->folded);
    Replant(open->folded);
  }
  if (closeError_ != 0) {
    core_.lastError = closeError_;
    return false;
  }
  return true;
}

}  // namespace sim
