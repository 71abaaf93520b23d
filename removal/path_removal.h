// Deleting the product's files and directories.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"
#include "removal/action_context.h"

namespace removal {

// How many levels below a directory in use the walk goes that schedules what
// is left in it for the next boot. Deeper than a path of MAX_PATH characters
// reaches below the product's directories; it bounds the walk, and its stack,
// where a link that the system does not mark as one leads back up the tree.
inline constexpr std::size_t kMaxBootScheduleDepth = 128;

// Deletes a file or directory permanently, or at the next boot when in use.
// `kind` is "File" or "Directory", the word every outcome line names it by.
// With `bypassRedirection`, a process under WOW64 sees the native system
// directory for the test and the deletion of this item (not the 32-bit one),
// and redirection is on again before anything is written or reported. An
// item that exists but refuses to be queried is deleted all the same.
void DeletePath(platform::Platform& platform, const std::wstring& kind, const std::wstring& path,
                bool bypassRedirection, ActionContext& context);

// False only when the system answers that the path does not exist (file or
// path not found); an item that refuses the query is there. `bypassRedirection`
// as for DeletePath.
bool PathExists(platform::Platform& platform, const std::wstring& path, bool bypassRedirection);

}  // namespace removal
