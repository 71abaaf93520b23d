// The end-user agreement, shown as an HTML page in the user's browser.
#pragma once

#include "platform/platform.h"

namespace run {

// The page is a resource of the program's own image.
inline constexpr int kAgreementResourceType = 256;
inline constexpr int kAgreementResourceId = 101;
// Appended to the value of TEMP, backslash included.
inline constexpr wchar_t kAgreementFileName[] = L"\\tessel_removal_eula.html";

// Writes the page to TEMP and opens it through the desktop's shell, or this
// process's own where there is none. Prints nothing; when TEMP is unset, the
// page is missing or the file cannot be written whole, nothing is opened.
void ShowAgreement(platform::Platform& platform);

}  // namespace run
