#pragma once

#include <string>

#include "platform/platform.h"
#include "removal/action_context.h"

namespace removal {

// Deletes a file or directory permanently, or at the next boot when in use.
// `kind` is "File" or "Directory", the word every outcome line names it by.
void DeletePath(platform::Platform& platform, const std::wstring& kind, const std::wstring& path,
                bool bypassRedirection, ActionContext& context);

}  // namespace removal
