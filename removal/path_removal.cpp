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

  // Whether the query read the item.
  [[nodiscard]] bool Read() const { return attributes != platform::kInvalidFileAttributes; }
};

// Asks for the item's attributes, in the view that the caller has set.
Presence Look(platform::Platform& platform, const std::wstring& path) {
  Presence found;
  found.attributes = platform.files.GetFileAttributes(path);
  if (found.Read()) {
    found.present = true;
    return found;
  }
  // Only "not found" means absent: a product that guards its files makes the
  // query fail too, and its files are very much there.
  const std::uint32_t error = platform.errors.GetLastError();
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
  return {false, platform.errors.GetLastError(), false};
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

// Whether a listed `name` can be named at all: every name the file system
// holds is reached through the verbatim form, which the system passes on
// unchanged (trailing dots and spaces, device names such as "nul" and paths
// past MAX_PATH included), except "." and "..", a separator, which would reach
// into another directory, and a colon, which would name a stream.
bool IsReachableName(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:") == std::wstring::npos;
}

// What is left below a directory in use, in the order the boot must delete it,
// and the first reason why something below could not be listed or named, which
// leaves the directory in place at boot.
struct Remaining {
  std::vector<std::wstring> order;
  std::optional<std::uint32_t> unreached;
};

// Appends everything still below `directory` (a verbatim path) to `left`, each
// directory after what it holds, and goes on past whatever it cannot reach, so
// that all that can go at boot is scheduled. A directory at the depth limit is
// listed only to find out whether it is empty.
void AppendRemaining(platform::Platform& platform, const std::wstring& directory, std::size_t depth,
                     Remaining& left) {
  const auto note = [&left](std::uint32_t code) {
    if (!left.unreached) left.unreached = code;
  };
  const std::optional<std::vector<platform::DirectoryEntry>> entries =
      platform.files.ListDirectory(directory);
  if (!entries) {
    note(platform.errors.GetLastError());
    return;
  }
  if (depth == kMaxBootScheduleDepth && !entries->empty()) {
    note(kErrorFilenameExcedRange);
    return;
  }
  for (const platform::DirectoryEntry& entry : *entries) {
    if (!IsReachableName(entry.name)) {
      note(kErrorInvalidName);
      continue;
    }
    std::wstring path = platform::paths::Join(directory, entry.name);
    if (entry.isDirectory) {
      AppendRemaining(platform, path, depth + 1, left);
    }
    left.order.push_back(std::move(path));
  }
}

// Asks for the item to be deleted at the next boot. Windows deletes a
// directory at boot only when it is empty by then, so everything left inside
// a tree is scheduled before its directory, and the item last. Gives the code
// of what keeps the item in place at boot, nothing when the boot can delete
// it all: the first refusal of the pending list (after which nothing more is
// scheduled: one refused entry leaves the item in place however many others
// it takes), or else the first entry below that could not be reached.
std::optional<std::uint32_t> ScheduleDeletionAtBoot(platform::Platform& platform,
                                                    const std::wstring& path, Shape shape) {
  Remaining left;
  if (shape == Shape::kTree) {
    AppendRemaining(platform, platform::paths::Verbatim(path), 0, left);
  }
  left.order.push_back(path);
  for (const std::wstring& item : left.order) {
    if (!platform.files.DeleteAtReboot(item)) {
      return platform.errors.GetLastError();
    }
  }
  return left.unreached;
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
  const Presence left = Look(platform, path);
  if (attempt.succeeded && !left.Read()) {
    return {Outcome::kDeleted};
  }
  if (!attempt.succeeded && !left.present) {
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

}  // namespace removal
