// The desktop's shell: whom it runs as, and documents opened through it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

inline constexpr int kShowNormal = 1;

// The account that the desktop's shell runs as.
struct DesktopShellAccount {
  std::vector<std::uint8_t> sid;  // its SID, byte for byte
  bool isThisProcessUser = false;
};

class DesktopShell {
 public:
  virtual ~DesktopShell() = default;

  // The account of the desktop's shell: the TokenUser of the process behind
  // GetShellWindow, and whether it is EqualSid to this process's. Nothing when
  // there is no shell window or a token cannot be read.
  [[nodiscard]] virtual std::optional<DesktopShellAccount> FindDesktopShellAccount() = 0;
  // Asks the desktop's shell (Explorer) to "open" the document, so that what
  // it starts runs with the interactive user's rights rather than this
  // process's: IShellWindows::FindWindowSW(SWC_DESKTOP), its view's
  // IShellDispatch2::ShellExecute, in a COM apartment held for the length of
  // the call. True only when that answers S_OK (S_FALSE: nothing started).
  // The calls go to another process and have no time-out of their own: a
  // caller that cannot wait for ever runs this on a thread of its own. (The
  // tool has no way to open a document itself: whatever it started would run
  // with its administrator rights.)
  [[nodiscard]] virtual bool OpenDocumentAsDesktopUser(const std::wstring& path,
                                                       int showCommand) = 0;
};

}  // namespace platform
