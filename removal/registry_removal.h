#pragma once

#include <string>

#include "platform/platform.h"
#include "removal/action_context.h"

namespace removal {

// Deletes a key below HKEY_LOCAL_MACHINE, in the 64-bit view under WOW64.
void DeleteRegistryKey(platform::Platform& platform, const std::wstring& keyPath,
                       ActionContext& context, bool quiet);

}  // namespace removal
