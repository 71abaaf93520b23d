// The end-user agreement, shown as an HTML page in the user's browser.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace run {

// The page is a resource of the program's own image.
inline constexpr int kAgreementResourceType = 256;
inline constexpr int kAgreementResourceId = 101;
// Appended to the value of TEMP, backslash included.
inline constexpr wchar_t kAgreementFileName[] = L"\\tessel_removal_eula.html";

// How long a press waits for the desktop's shell to take the page.
inline constexpr std::uint32_t kDesktopShellTimeoutMs = 5000;

// The page for the whole run: written once into TEMP's real directory and
// held there, readable by anyone and changed by nobody, until the process
// ends; it must live that long (the run ends by TerminateProcess, which
// closes the hold).
class AgreementPage {
 public:
  explicit AgreementPage(platform::Platform& platform);
  AgreementPage(const AgreementPage&) = delete;
  AgreementPage& operator=(const AgreementPage&) = delete;
  AgreementPage(AgreementPage&&) = delete;
  AgreementPage& operator=(AgreementPage&&) = delete;
  ~AgreementPage() = default;

  // One press of 'D': writes and holds the page if that has not been done
  // yet, then has the desktop's shell open it, as the shell's user. Where no
  // shell answers, or it fails, or its user cannot read the page, prints the
  // line that says where the page is. When TEMP is unset or not a drive or
  // UNC path, the page is missing, or it cannot be written and held whole
  // inside TEMP, nothing is opened or printed. While an earlier press's call
  // to the desktop's shell is still under way, nothing is asked again.
  void Show();

 private:
  bool WritePage();
  bool WriteAndHold(const std::wstring& temp, const platform::ResourceBytes& page);
  void Open();
  void SayWhereThePageIs();

  platform::Platform& platform_;
  // The path the browser is given (where the page really lies, or TEMP's own
  // path on a volume without a drive letter) and the read-only handle that
  // holds the page, once written.
  std::wstring path_;
  platform::UniqueFileHandle held_;
  // The other account that the page's permissions let read it: the desktop
  // shell's, when that was not this process's user as the page was written.
  std::vector<std::uint8_t> otherReader_;
  // Shared with the call to the desktop's shell, which clears it when the
  // shell answers, however late.
  std::shared_ptr<std::atomic<bool>> shellCallPending_;
};

}  // namespace run
