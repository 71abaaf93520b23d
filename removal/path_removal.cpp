#include "removal/path_removal.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "removal/failure_report.h"
#include "removal/system_errors.h"

namespace removal {
namespace {

const wchar_t* KindWord(ItemKind kind) {
  return kind == ItemKind::kDirectory ? L"Directory" : L"File";
}

enum class Outcome { kAbsent, kDeleted, kDeferred, kFailed };

struct Removal {
  Outcome outcome = Outcome::kAbsent;
  std::uint32_t errorCode = 0;  // for kFailed
  CodeKind codeKind = CodeKind::kSystemError;
};

// --- The look ---

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

// How an item that is there is deleted, and what of it the boot is asked to
// delete when something is left.
enum class Shape {
  kFile,           // plain calls; the item alone
  kTree,           // the shell; everything left inside, then the directory
  kDirectoryLink,  // the shell; the link alone
};

Shape ShapeOf(const Presence& found, ItemKind expected) {
  // An item that refuses even its attributes is what the caller expects: a
  // directory handed to the plain file calls would only be refused.
  if (found.attributes == platform::kInvalidFileAttributes) {
    return expected == ItemKind::kDirectory ? Shape::kTree : Shape::kFile;
  }
  if ((found.attributes & platform::kFileAttributeDirectory) == 0) {
    return Shape::kFile;
  }
  // A junction or directory link is removed as itself: what it leads to is
  // not the product's, and the walk must not schedule it.
  return (found.attributes & platform::kFileAttributeReparsePoint) != 0 ? Shape::kDirectoryLink
                                                                        : Shape::kTree;
}

// --- The deletion ---

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
Attempt DeleteWithPlainCalls(platform::Platform& platform, const std::wstring& path,
                             std::uint32_t attributes) {
  if (attributes != platform::kInvalidFileAttributes &&
      (attributes & platform::kFileAttributeReadOnly) != 0) {
    const std::uint32_t cleared = attributes & ~platform::kFileAttributeReadOnly;
    // Should this fail, the deletion fails too and gives its own code.
    static_cast<void>(platform.files.SetFileAttributes(
        path, cleared != 0 ? cleared : platform::kFileAttributeNormal));
  }
  if (platform.files.DeleteFile(path)) {
    return {true};
  }
  return {false, platform.messages.GetLastError(), false};
}

// A directory goes through the shell, which deletes the whole tree. It runs
// with redirection on, so it reaches the native system directory through its
// alias when the test saw that one.
Attempt DeleteWithTheShell(platform::Platform& platform, const std::wstring& path,
                           RedirectionBypass& bypass) {
  const std::wstring reached =
      bypass.active() ? platform::paths::ThroughNativeSystemAlias(path) : path;
  const int result = bypass.WithRedirectionOn([&] { return platform.files.ShellDelete(reached); });
  return {result == 0, static_cast<std::uint32_t>(result), true};
}

// --- The boot-time deletion of what is left ---

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

// Appends everything still below `directory` to `order`, each directory after
// what it holds. A directory that cannot be listed is taken as empty: it is
// scheduled all the same, and if it still holds something the boot leaves it
// in place, as it would anyway. So is one at the depth limit, and one holding
// an entry that no plain path names.
void AppendRemaining(platform::FileSystem& files, const std::wstring& directory, std::size_t depth,
                     std::vector<std::wstring>& order) {
  const std::optional<std::vector<platform::DirectoryEntry>> entries =
      files.ListDirectory(directory);
  if (!entries) {
    return;
  }
  for (const platform::DirectoryEntry& entry : *entries) {
    if (!NamesOnlyItself(entry.name)) {
      continue;
    }
    std::wstring path = platform::paths::Join(directory, entry.name);
    if (entry.isDirectory && depth + 1 < kMaxBootScheduleDepth) {
      AppendRemaining(files, path, depth + 1, order);
    }
    order.push_back(std::move(path));
  }
}

// Asks for the item to be deleted at the next boot. Windows deletes a
// directory at boot only when it is empty by then, so everything left inside
// a tree is scheduled before its directory, and the item last. Stops at the
// first refusal and gives its error code (nothing when every call succeeded):
// a pending list that refuses one entry leaves the item in place at boot
// however many others it takes.
std::optional<std::uint32_t> ScheduleDeletionAtBoot(platform::Platform& platform,
                                                    const std::wstring& path, Shape shape) {
  std::vector<std::wstring> order;
  if (shape == Shape::kTree) {
    AppendRemaining(platform.files, path, 0, order);
  }
  order.push_back(path);
  for (const std::wstring& item : order) {
    if (!platform.files.DeleteAtReboot(item)) {
      return platform.messages.GetLastError();
    }
  }
  return std::nullopt;
}

// --- The outcome ---

// What the deletion came to, judged in the view of the existence test, with
// plain calls only.
Removal Conclude(platform::Platform& platform, const std::wstring& path, Shape shape,
                 const Attempt& attempt) {
  const CodeKind kind = attempt.fromShell && IsShellOnlyResult(attempt.code)
                            ? CodeKind::kOtherNumber
                            : CodeKind::kSystemError;
  if (!attempt.succeeded && !MeansInUse(attempt.code, attempt.fromShell)) {
    return {Outcome::kFailed, attempt.code, kind};
  }
  // What is left decides, not the answer alone: the shell may answer 0 having
  // left the item (a part it aborted silently). After a success only a look
  // that reads the item finds it left: one that another program holds open
  // with delete sharing is on its way, and refuses every look until closed.
  // A refusal stays a failure when nothing is left to schedule.
  if (attempt.succeeded) {
    if (platform.files.GetFileAttributes(path) == platform::kInvalidFileAttributes) {
      return {Outcome::kDeleted};
    }
  } else if (!Look(platform, path).present) {
    return {Outcome::kFailed, attempt.code, kind};
  }
  // The entries name the real path: the boot runs natively, where no alias
  // exists.
  const std::optional<std::uint32_t> refused = ScheduleDeletionAtBoot(platform, path, shape);
  if (refused) {
    return {Outcome::kFailed, *refused};
  }
  return {Outcome::kDeferred};
}

// Everything that touches the item, in the view the caller asked for (the
// shell's call aside), with redirection on again before any outcome is
// written or sent.
Removal RemoveItem(platform::Platform& platform, const std::wstring& path, ItemKind kind,
                   Redirection redirection) {
  RedirectionBypass bypass(platform, redirection);
  const Presence found = Look(platform, path);
  if (!found.present) {
    return {Outcome::kAbsent};
  }
  const Shape shape = ShapeOf(found, kind);
  const Attempt attempt = shape == Shape::kFile
                              ? DeleteWithPlainCalls(platform, path, found.attributes)
                              : DeleteWithTheShell(platform, path, bypass);
  return Conclude(platform, path, shape, attempt);
}

}  // namespace

void DeletePath(platform::Platform& platform, ItemKind kind, const std::wstring& path,
                Redirection redirection, ActionContext& context) {
  const Removal removal = RemoveItem(platform, path, kind, redirection);
  const wchar_t* const word = KindWord(kind);
  platform::Console& out = platform.console;
  switch (removal.outcome) {
    case Outcome::kAbsent:
      out << word << " is not present: " << path << platform::endl;
      return;
    case Outcome::kDeleted:
      out << word << " deleted: " << path << platform::endl;
      return;
    case Outcome::kDeferred:
      // Not a failure, and not a reason to restart now: the next boot, whenever
      // it comes, finishes the job.
      out << word << " will be deleted when the system reboots: " << path << platform::endl;
      return;
    case Outcome::kFailed:
      out << platform::endl << "ERROR deleting " << word << ": " << path << platform::endl;
      ReportFailure(platform, context, L"FileDelete", removal.errorCode, path, removal.codeKind);
      return;
  }
}

bool PathExists(platform::Platform& platform, const std::wstring& path, Redirection redirection) {
  const RedirectionBypass bypass(platform, redirection);
  return Look(platform, path).present;
}

}  // namespace removal
