// The end-user agreement, shown as an HTML page in the user's browser.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace run {

// The page is a resource of the program's own image.
inline constexpr int kAgreementResourceType = 256;
inline constexpr int kAgreementResourceId = 101;
// Appended to the value of TEMP, backslash included.
inline constexpr wchar_t kAgreementFileName[] = L"\\tessel_removal_eula.html";

// How long the desktop's shell may take to open the page before the tool
// opens it itself.
inline constexpr std::uint32_t kDesktopShellTimeoutMs = 5000;

// Writes the page to TEMP as a new file, never through whatever held its name,
// and opens it through the desktop's shell when that runs as this process's
// user, else itself. Prints nothing; when TEMP is unset, the page is missing,
// or the file cannot be written whole inside TEMP, nothing is opened.
void ShowAgreement(platform::Platform& platform);

}  // namespace run
