// Deleting the product's files and directories.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"
#include "removal/action_context.h"
#include "removal/wow64.h"

namespace removal {

// How many levels below a directory in use the walk goes that schedules what
// is left in it for the next boot. Deeper than a path of MAX_PATH characters
// reaches below the product's directories; it bounds the walk, and its stack,
// where a link that the system does not mark as one leads back up the tree.
// A directory at the limit that still holds anything keeps the item in place
// at boot: a failure ("The filename or extension is too long", 206).
inline constexpr std::size_t kMaxBootScheduleDepth = 128;

// What the caller expects the item to be; every outcome line names it by its
// word, "File" or "Directory".
enum class ItemKind { kFile, kDirectory };

// Deletes a file or directory permanently, or at the next boot when in use:
// then everything left in a directory is scheduled first, by the verbatim
// path that reaches it, and a directory whose contents cannot all be listed
// and named is a failure, with what could be scheduled left scheduled.
// With Redirection::kBypass, a process under WOW64 sees the native system
// directory for the test and the deletion of this item (not the 32-bit one),
// and redirection is on again before anything is written or reported. An
// item that exists but refuses to be queried is deleted all the same, as the
// kind the caller expects.
void DeletePath(platform::Platform& platform, ItemKind kind, const std::wstring& path,
                Redirection redirection, ActionContext& context);

}  // namespace removal
