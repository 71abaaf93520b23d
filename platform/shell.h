// The environment, the program's own resources, and the shell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Bytes of a resource inside the program's own image; valid for the whole run.
struct ResourceBytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

inline constexpr int kShowNormal = 1;

class Shell {
 public:
  virtual ~Shell() = default;

  // _wgetenv, copied: the variable's value, or nothing when it is not set.
  [[nodiscard]] virtual std::optional<std::wstring> GetEnvironmentVariable(
      const std::wstring& name) = 0;
  // FindResourceW, LoadResource, SizeofResource and LockResource in the
  // program's own image, by integer type and id; nothing when it is missing.
  [[nodiscard]] virtual std::optional<ResourceBytes> FindProgramResource(int type, int id) = 0;
  // Whether the desktop's shell runs as the same user as this process: the
  // TokenUser of the process behind GetShellWindow and of this one are
  // EqualSid. False when there is no shell window or a token cannot be read.
  [[nodiscard]] virtual bool DesktopShellRunsAsThisUser() = 0;
  // Asks the desktop's shell (Explorer) to "open" the document, so that what
  // it starts runs with the interactive user's rights rather than this
  // process's: IShellWindows::FindWindowSW(SWC_DESKTOP), its view's
  // IShellDispatch2::ShellExecute, in a COM apartment held for the length of
  // the call. True only when that answers S_OK (S_FALSE: nothing started).
  // The calls go to another process and have no time-out of their own: a
  // caller that cannot wait for ever runs this on a thread of its own.
  [[nodiscard]] virtual bool OpenDocumentAsDesktopUser(const std::wstring& path,
                                                       int showCommand) = 0;
  // ShellExecuteW(nullptr, L"open", path, nullptr, nullptr, showCommand), in
  // a COM apartment held for the length of the call.
  [[nodiscard]] virtual bool OpenDocument(const std::wstring& path, int showCommand) = 0;
};

}  // namespace platform
