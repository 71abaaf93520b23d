#pragma once

#include <string>

#include "platform/platform.h"
#include "removal/action_context.h"

namespace removal {

// Deletes a service from the service control manager's database.
void RemoveService(platform::Platform& platform, const std::wstring& name,
                   ServiceDeletionContext& context, bool rebootOnDelete);

}  // namespace removal
