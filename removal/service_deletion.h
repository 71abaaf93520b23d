#pragma once

#include <string>

#include "platform/platform.h"
#include "removal/action_context.h"

namespace removal {

// Whether deleting the service completes only at the next boot, so that a
// successful deletion sets the context's rebootNeeded.
enum class RestartAfterDeletion { kNotNeeded, kNeeded };

// Deletes a service from the service control manager's database.
void RemoveService(platform::Platform& platform, const std::wstring& name,
                   ServiceDeletionContext& context, RestartAfterDeletion restart);

}  // namespace removal
