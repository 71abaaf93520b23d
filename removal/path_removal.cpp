#include "removal/path_removal.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "removal/failure_report.h"
#include "removal/system_errors.h"
#include "removal/wow64.h"

namespace removal {
namespace {

enum class Outcome { kAbsent, kDeleted, kDeferred, kFailed };

struct Removal {
  Outcome outcome = Outcome::kAbsent;
  std::uint32_t errorCode = 0;  // for kFailed
  CodeKind codeKind = CodeKind::kSystemError;
};

std::wstring JoinPath(const std::wstring& directory, const std::wstring& name) {
  if (!directory.empty() && directory.back() == L'\\') {
    return directory + name;
  }
  return directory + L'\\' + name;
}

struct RemainingItems {
  std::vector<std::wstring> files;
  struct Directory {
    std::wstring path;
    std::size_t depth = 0;
  };
  std::vector<Directory> directories;
};

// Whether `name`, joined to its directory, names that entry and nothing else.
// The system reads "." and ".." as steps and drops trailing dots and spaces
// from a path, so an entry called "..", "x." or "x " would be scheduled by a
// path that reaches another item, possibly outside the directory; a separator
// or a colon would reach into another directory or a stream.
bool NamesOnlyItself(const std::wstring& name) {
  if (name.empty() || name.back() == L'.' || name.back() == L' ') {
    return false;
  }
  return std::none_of(name.begin(), name.end(), [](wchar_t unit) {
    return unit == L'\\' || unit == L'/' || unit == L':' || static_cast<std::uint32_t>(unit) < 0x20;
  });
}

// Everything still below `directory`. A directory that cannot be listed is
// taken as empty: it is scheduled all the same, and if it still holds
// something the boot leaves it in place, as it would anyway. So is one at
// the depth limit, and one holding an entry that no plain path names.
void CollectRemaining(platform::FileSystem& files, const std::wstring& directory, std::size_t depth,
                      RemainingItems& items) {
  const std::optional<std::vector<platform::DirectoryEntry>> entries =
      files.ListDirectory(directory);
  if (!entries) {
    return;
  }
  for (const platform::DirectoryEntry& entry : *entries) {
    if (!NamesOnlyItself(entry.name)) {
      continue;
    }
    const std::wstring path = JoinPath(directory, entry.name);
    if (entry.isDirectory) {
      items.directories.push_back({path, depth + 1});
      if (depth + 1 < kMaxBootScheduleDepth) {
        CollectRemaining(files, path, depth + 1, items);
      }
    } else {
      items.files.push_back(path);
    }
  }
}

// Asks for the item to be deleted at the next boot. Windows deletes a
// directory at boot only when it is empty by then, so what remains inside one
// is scheduled first: the files, then the subdirectories from the deepest up,
// and the directory last. Stops at the first refusal and gives its error code
// (nothing when every call succeeded): a pending list that refuses one entry
// leaves the item in place at boot however many others it takes.
std::optional<std::uint32_t> ScheduleDeletionAtBoot(platform::Platform& platform,
                                                    const std::wstring& path, bool isDirectory) {
  std::vector<std::wstring> order;
  if (isDirectory) {
    RemainingItems items;
    CollectRemaining(platform.files, path, 0, items);
    order = std::move(items.files);
    std::stable_sort(items.directories.begin(), items.directories.end(),
                     [](const RemainingItems::Directory& a, const RemainingItems::Directory& b) {
                       return a.depth > b.depth;
                     });
    for (RemainingItems::Directory& directory : items.directories) {
      order.push_back(std::move(directory.path));
    }
  }
  order.push_back(path);
  for (const std::wstring& item : order) {
    if (!platform.files.DeleteAtReboot(item)) {
      return platform.messages.GetLastError();
    }
  }
  return std::nullopt;
}

// What the existence test found.
struct Presence {
  bool present = false;
  // kInvalidFileAttributes when the item refused the query.
  std::uint32_t attributes = platform::kInvalidFileAttributes;
};

// Asks for the item's attributes, in the view that the caller has set.
Presence Look(platform::Platform& platform, const std::wstring& path) {
  Presence found;
  found.attributes = platform.files.GetFileAttributes(path);
  if (found.attributes != platform::kInvalidFileAttributes) {
    found.present = true;
    return found;
  }
  // Only "not found" means absent: a product that guards its files makes the
  // query fail too, and its files are very much there.
  const std::uint32_t error = platform.messages.GetLastError();
  found.present = error != kErrorFileNotFound && error != kErrorPathNotFound;
  return found;
}

// How one deletion call ended; `code` is its error code or the shell's result.
struct Attempt {
  bool succeeded = false;
  std::uint32_t code = 0;
  bool fromShell = false;
};

// Anything but a directory goes with plain calls, in the view the test saw:
// while redirection is off, a call that loads a DLL (as the shell does) fails,
// and a failed delay-load stays failed for the rest of the run. A read-only
// file is deleted as the shell deletes one when told not to ask: its
// attribute is cleared first.
Attempt DeleteWithPlainCalls(platform::FileSystem& files, platform::SystemMessages& messages,
                             const std::wstring& path, std::uint32_t attributes) {
  if (attributes != platform::kInvalidFileAttributes &&
      (attributes & platform::kFileAttributeReadOnly) != 0) {
    const std::uint32_t cleared = attributes & ~platform::kFileAttributeReadOnly;
    // Should this fail, the deletion fails too and gives its own code.
    static_cast<void>(
        files.SetFileAttributes(path, cleared != 0 ? cleared : platform::kFileAttributeNormal));
  }
  if (files.DeleteFile(path)) {
    return {true};
  }
  return {false, messages.GetLastError(), false};
}

// With redirection on, a 32-bit process reaches the native system directory
// through its alias "Sysnative" (which exists only for such a process).
std::wstring ThroughNativeAlias(const std::wstring& path) {
  constexpr std::wstring_view kSystem = L":\\Windows\\System32";
  const std::size_t end = 1 + kSystem.size();
  if (path.size() < end || (path.size() > end && path[end] != L'\\')) {
    return path;
  }
  const auto fold = [](wchar_t unit) {
    return unit >= L'A' && unit <= L'Z' ? static_cast<wchar_t>(unit - L'A' + L'a') : unit;
  };
  for (std::size_t i = 0; i < kSystem.size(); ++i) {
    if (fold(path[1 + i]) != fold(kSystem[i])) {
      return path;
    }
  }
  return path.substr(0, 1) + L":\\Windows\\Sysnative" + path.substr(end);
}

// What the deletion came to, judged in the view of the existence test, with
// plain calls only.
Removal Conclude(platform::Platform& platform, const std::wstring& path, bool walk,
                 const Attempt& attempt) {
  const CodeKind kind = attempt.fromShell && IsShellOnlyResult(attempt.code)
                            ? CodeKind::kOtherNumber
                            : CodeKind::kSystemError;
  if (!attempt.succeeded && !MeansInUse(attempt.code, attempt.fromShell)) {
    return {Outcome::kFailed, attempt.code, kind};
  }
  // What is left decides, not the answer alone: the shell may answer 0 having
  // left the item (a part it aborted silently). A refusal stays a failure when
  // nothing is left to schedule.
  if (!Look(platform, path).present) {
    if (attempt.succeeded) {
      return {Outcome::kDeleted};
    }
    return {Outcome::kFailed, attempt.code, kind};
  }
  // The entries name the real path: the boot runs natively, where no alias
  // exists.
  const std::optional<std::uint32_t> refused = ScheduleDeletionAtBoot(platform, path, walk);
  if (refused) {
    return {Outcome::kFailed, *refused};
  }
  return {Outcome::kDeferred};
}

// Everything that touches the item. Redirection is off, when asked, only
// around plain calls, and on again before any outcome is written or sent.
Removal RemoveItem(platform::Platform& platform, const std::wstring& path, bool expectDirectory,
                   bool bypassRedirection) {
  bool walk = false;
  bool nativeView = false;
  {
    const RedirectionBypass bypass(platform, bypassRedirection);
    const Presence found = Look(platform, path);
    if (!found.present) {
      return {Outcome::kAbsent};
    }
    // An item that refuses even its attributes is what the caller expects:
    // a directory handed to the plain file calls would only be refused.
    const bool unknown = found.attributes == platform::kInvalidFileAttributes;
    const bool isDirectory =
        unknown ? expectDirectory : (found.attributes & platform::kFileAttributeDirectory) != 0;
    if (!isDirectory) {
      const Attempt attempt =
          DeleteWithPlainCalls(platform.files, platform.messages, path, found.attributes);
      return Conclude(platform, path, false, attempt);
    }
    // A junction or directory link is removed as itself: what it leads to is
    // not the product's, and the walk must not schedule it.
    walk = unknown || (found.attributes & platform::kFileAttributeReparsePoint) == 0;
    nativeView = bypass.active();
  }
  // A directory goes through the shell, which deletes the whole tree, with
  // redirection on.
  const int result = platform.files.ShellDelete(nativeView ? ThroughNativeAlias(path) : path);
  const RedirectionBypass bypass(platform, bypassRedirection);
  return Conclude(platform, path, walk, {result == 0, static_cast<std::uint32_t>(result), true});
}

}  // namespace

void DeletePath(platform::Platform& platform, const std::wstring& kind, const std::wstring& path,
                bool bypassRedirection, ActionContext& context) {
  const Removal removal = RemoveItem(platform, path, kind == L"Directory", bypassRedirection);
  platform::Console& out = platform.console;
  switch (removal.outcome) {
    case Outcome::kAbsent:
      out << kind << " is not present: " << path << platform::endl;
      return;
    case Outcome::kDeleted:
      out << kind << " deleted: " << path << platform::endl;
      return;
    case Outcome::kDeferred:
      // Not a failure, and not a reason to restart now: the next boot, whenever
      // it comes, finishes the job.
      out << kind << " will be deleted when the system reboots: " << path << platform::endl;
      return;
    case Outcome::kFailed:
      out << platform::endl << "ERROR deleting " << kind << ": " << path << platform::endl;
      ReportFailure(platform, context, L"FileDelete", removal.errorCode, path, removal.codeKind);
      return;
  }
}

bool PathExists(platform::Platform& platform, const std::wstring& path, bool bypassRedirection) {
  const RedirectionBypass bypass(platform, bypassRedirection);
  return Look(platform, path).present;
}

}  // namespace removal
