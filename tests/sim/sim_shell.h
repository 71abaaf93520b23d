// The simulated environment, program resources and desktop shell, in one
// object: the three facilities' tests set them up together.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/desktop_shell.h"
#include "platform/environment.h"
#include "platform/program_resources.h"
#include "tests/sim/sim_core.h"

namespace sim {

// One "open" request that reached a shell.
struct OpenRequest {
  std::wstring path;
  int showCommand = 0;
};

class SimShell : public platform::Environment,
                 public platform::ProgramResources,
                 public platform::DesktopShell {
 public:
  // ERROR_RESOURCE_TYPE_NOT_FOUND, what FindResourceW leaves for a missing page.
  static constexpr std::uint32_t kErrorResourceTypeNotFound = 1813;
  static inline const std::vector<std::uint8_t> kOtherUserSid{1, 1, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0};

  explicit SimShell(SimCore& core);
  // The core keeps a question about this object.
  SimShell(const SimShell&) = delete;
  SimShell& operator=(const SimShell&) = delete;
  ~SimShell() override = default;

  void SetEnvironmentVariable(const std::wstring& name, std::wstring value);
  void UnsetEnvironmentVariable(const std::wstring& name);

  // The program image holds a resource of this type and id with these bytes.
  void AddResource(int type, int id, std::vector<std::uint8_t> bytes);
  void RemoveResource(int type, int id);

  // Whether a desktop shell (Explorer) is there to take requests (the start).
  void SetDesktopShellRunning(bool running) { desktopShellRunning_ = running; }
  // The desktop's shell runs as another user than the tool.
  void SetDesktopShellUserIsOther(bool other) { desktopShellUserIsOther_ = other; }
  // The desktop's shell takes requests but starts nothing (S_FALSE).
  void SetDesktopShellStartsNothing(bool nothing) { desktopShellStartsNothing_ = nothing; }
  // The desktop's shell never answers: a request waits until its deadline.
  void SetDesktopShellHangs(bool hangs) { desktopShellHangs_ = hangs; }

  std::optional<std::wstring> GetEnvironmentVariable(const std::wstring& name) override;
  std::optional<platform::ResourceBytes> FindProgramResource(int type, int id) override;
  std::optional<platform::DesktopShellAccount> FindDesktopShellAccount() override;
  bool OpenDocumentAsDesktopUser(const std::wstring& path, int showCommand) override;

  // Every open request that a shell took, in order.
  const std::vector<OpenRequest>& openRequests() const { return openRequests_; }

 private:
  SimCore& core_;
  std::map<std::wstring, std::wstring> environment_;
  std::map<std::pair<int, int>, std::vector<std::uint8_t>> resources_;
  bool desktopShellRunning_ = true;
  bool desktopShellUserIsOther_ = false;
  bool desktopShellStartsNothing_ = false;
  bool desktopShellHangs_ = false;
  std::vector<OpenRequest> openRequests_;
};

}  // namespace sim
