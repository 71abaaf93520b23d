// Everything the tool asks of the machine it runs on, in one place.
#pragma once

#include "platform/console.h"
#include "platform/files.h"
#include "platform/identifiers.h"
#include "platform/input.h"
#include "platform/internet.h"
#include "platform/messages.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/shell.h"

namespace platform {

// The facilities of one machine. The real one lives in platform/win32/, the
// simulated one in the tests.
struct Platform {
  Console& console;
  ServiceControl& services;
  Registry& registry;
  FileSystem& files;
  ProcessInfo& process;
  Internet& internet;
  SystemMessages& messages;
  Keyboard& keyboard;
  Clock& clock;
  Identifiers& identifiers;
  Shell& shell;
  Power& power;
};

}  // namespace platform
