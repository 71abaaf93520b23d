// The environment, the program's own resources, and the shell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Bytes of a resource inside the program's own image; valid for the whole run.
struct ResourceBytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

inline constexpr int kShowNormal = 1;

// The account that the desktop's shell runs as.
struct DesktopShellAccount {
  std::vector<std::uint8_t> sid;  // its SID, byte for byte
  bool isThisProcessUser = false;
};

class Shell {
 public:
  virtual ~Shell() = default;

  // _wgetenv, copied: the variable's value, or nothing when it is not set.
  [[nodiscard]] virtual std::optional<std::wstring> GetEnvironmentVariable(
      const std::wstring& name) = 0;
  // FindResourceW, LoadResource, SizeofResource and LockResource in the
  // program's own image, by integer type and id; nothing when it is missing.
  [[nodiscard]] virtual std::optional<ResourceBytes> FindProgramResource(int type, int id) = 0;
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
