#include "removal/path_removal.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
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

// Everything that touches the item, with redirection switched off as asked;
// it is on again when this returns, before any outcome is written or sent.
Removal RemoveItem(platform::Platform& platform, const std::wstring& path, bool bypassRedirection) {
  const RedirectionBypass bypass(platform, bypassRedirection);
  const std::uint32_t attributes = platform.files.GetFileAttributes(path);
  if (attributes == platform::kInvalidFileAttributes) {
    return {Outcome::kAbsent};
  }
  // Only the operation's result decides; whether it reports aborted parts is
  // not looked at.
  const int result = platform.files.ShellDelete(path);
  if (result == 0) {
    return {Outcome::kDeleted};
  }
  if (static_cast<std::uint32_t>(result) != kErrorSharingViolation) {
    return {Outcome::kFailed, static_cast<std::uint32_t>(result)};
  }
  // A junction or directory link is removed as itself: what it leads to is
  // not the product's, and the walk must not schedule it.
  const bool isDirectory = (attributes & platform::kFileAttributeDirectory) != 0 &&
                           (attributes & platform::kFileAttributeReparsePoint) == 0;
  const std::optional<std::uint32_t> refused = ScheduleDeletionAtBoot(platform, path, isDirectory);
  if (refused) {
    return {Outcome::kFailed, *refused};
  }
  return {Outcome::kDeferred};
}

}  // namespace

void DeletePath(platform::Platform& platform, const std::wstring& kind, const std::wstring& path,
                bool bypassRedirection, ActionContext& context) {
  const Removal removal = RemoveItem(platform, path, bypassRedirection);
  std::wostream& out = platform.console;
  switch (removal.outcome) {
    case Outcome::kAbsent:
      out << kind << " is not present: " << path << std::endl;
      return;
    case Outcome::kDeleted:
      out << kind << " deleted: " << path << std::endl;
      return;
    case Outcome::kDeferred:
      // Not a failure, and not a reason to restart now: the next boot, whenever
      // it comes, finishes the job.
      out << kind << " will be deleted when the system reboots: " << path << std::endl;
      return;
    case Outcome::kFailed:
      out << std::endl << "ERROR deleting " << kind << ": " << path << std::endl;
      ReportFailure(platform, context, L"FileDelete", removal.errorCode, path);
      return;
  }
}

bool PathExists(platform::Platform& platform, const std::wstring& path, bool bypassRedirection) {
  const RedirectionBypass bypass(platform, bypassRedirection);
  return platform.files.GetFileAttributes(path) != platform::kInvalidFileAttributes;
}

}  // namespace removal
