// Deleting the product's registry keys.
#pragma once

#include <string>

#include "platform/platform.h"
#include "removal/action_context.h"

namespace removal {

// Which outcomes of a key deletion are written: failures are written and
// reported either way.
enum class KeyLines { kEveryOutcome, kFailuresOnly };

// Deletes a key below HKEY_LOCAL_MACHINE, in the 64-bit view under WOW64. A
// key whose existence cannot be told is deleted like one that exists.
void DeleteRegistryKey(platform::Platform& platform, const std::wstring& keyPath,
                       ActionContext& context, KeyLines lines);

// Opens the key for reading (in the 64-bit view under WOW64) to tell whether
// it exists: false only when the registry answers that it is not found.
bool RegistryKeyExists(platform::Platform& platform, const std::wstring& keyPath);

}  // namespace removal
