// Everything the tool asks of the machine it runs on, in one place.
#pragma once

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/desktop_shell.h"
#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/identifiers.h"
#include "platform/input.h"
#include "platform/internet.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/program_resources.h"
#include "platform/registry.h"
#include "platform/services.h"

namespace platform {

// The facilities of one machine. The real one lives in platform/win32/, the
// simulated one in the tests.
struct Platform {
  Console& console;
  ServiceControl& services;
  Registry& registry;
  FileSystem& files;
  Process& process;
  Internet& internet;
  SystemErrors& errors;
  Keyboard& keyboard;
  Clock& clock;
  Identifiers& identifiers;
  Environment& environment;
  ProgramResources& resources;
  DesktopShell& shell;
  Power& power;
};

}  // namespace platform
