// The WinINet interface as the worker thread of one exchange sees it, so that
// the thread waiting for the exchange can give up on it at any moment.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/internet.h"

namespace telemetry {

// Passes every call on to the platform until Cancel(); from then on no call
// but CloseHandle reaches the platform, and each fails at once, so that an
// exchange given up on winds down without another exchange's worth of
// waiting. Cancel() closes nothing: WinINet allows a handle to be closed only
// while no call is using it, and the worker may be blocked in one. Its
// handles stay its own, and it closes them when its call returns (or the
// process ends first).
class CancellableInternet final : public platform::Internet {
 public:
  explicit CancellableInternet(platform::Internet& platform) : platform_(platform) {}

  // From the waiting thread: the exchange is given up on.
  void Cancel();

  std::uint32_t AttemptConnect() override;
  platform::HInternet Open(const std::wstring& agent, std::uint32_t accessType) override;
  bool SetOption(platform::HInternet handle, std::uint32_t option, std::uint32_t value) override;
  platform::HInternet Connect(platform::HInternet root, const std::wstring& server,
                              std::uint16_t port, std::uint32_t service) override;
  platform::HInternet OpenRequest(platform::HInternet connection, const std::wstring& verb,
                                  const std::wstring& object, std::uint32_t flags) override;
  bool AddRequestHeaders(platform::HInternet request, const std::wstring& headers,
                         std::uint32_t modifiers) override;
  bool SendRequestEx(platform::HInternet request) override;
  bool WriteFile(platform::HInternet request, const std::uint8_t* data, std::uint32_t size,
                 std::uint32_t& written) override;
  std::uint32_t EndRequest(platform::HInternet request) override;
  bool QueryStatusCode(platform::HInternet request, std::uint32_t& status) override;
  bool QueryInfoA(platform::HInternet request, std::uint32_t infoLevel, char* buffer,
                  std::uint32_t& length) override;
  bool ReadFile(platform::HInternet request, std::uint8_t* buffer, std::uint32_t size,
                std::uint32_t& read) override;
  bool CloseHandle(platform::HInternet handle) override;

 private:
  bool Live();

  platform::Internet& platform_;
  std::mutex mutex_;
  bool cancelled_ = false;
};

}  // namespace telemetry
