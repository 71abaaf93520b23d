// WOW64: whether the process runs as a 32-bit program on 64-bit Windows, and
// a guard that lets it see the native system directory for a while.
#pragma once

#include "platform/platform.h"

namespace removal {

// Which view of the system directory a file action sees under WOW64: the
// process's own (redirected to SysWOW64), or the native one.
enum class Redirection { kKeep, kBypass };

// IsWow64Process for the current process, asked anew on every call. A missing
// entry or a failed call counts as "not under WOW64".
bool RunsUnderWow64(platform::Process& process);

// Switches WOW64 file-system redirection off for this thread while the guard
// lives, when asked to and only under WOW64, and switches it on again when the
// guard goes out of scope. Redirection is per-thread state that every later
// file access of the run depends on, so it is never left off: whoever holds
// the guard does nothing else (no output, no telemetry) until it ends.
class RedirectionBypass {
 public:
  RedirectionBypass(platform::Platform& platform, Redirection redirection);
  ~RedirectionBypass();
  RedirectionBypass(const RedirectionBypass&) = delete;
  RedirectionBypass& operator=(const RedirectionBypass&) = delete;

  // Whether this guard has redirection off.
  [[nodiscard]] bool active() const { return disabled_; }

  // Makes `call` with redirection on, as a call that loads a DLL needs (with
  // it off the load fails), then switches it off again if it was.
  template <typename Call>
  auto WithRedirectionOn(Call call) {
    const bool wasOff = disabled_;
    Revert();
    auto result = call();
    if (wasOff) {
      Disable();
    }
    return result;
  }

 private:
  void Disable();
  void Revert();

  platform::FileSystem& files_;
  platform::RedirectionState saved_ = nullptr;
  bool disabled_ = false;
};

}  // namespace removal
