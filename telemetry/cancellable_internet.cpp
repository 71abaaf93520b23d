#include "telemetry/cancellable_internet.h"

namespace telemetry {
namespace {

// ERROR_INTERNET_OPERATION_CANCELLED, what WinINet itself answers then.
constexpr std::uint32_t kOperationCancelled = 12017;

}  // namespace

bool CancellableInternet::Live() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return !cancelled_;
}

void CancellableInternet::Cancel() {
  const std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
}

std::uint32_t CancellableInternet::AttemptConnect() {
  return Live() ? platform_.AttemptConnect() : kOperationCancelled;
}

platform::HInternet CancellableInternet::Open(const std::wstring& agent, std::uint32_t accessType) {
  return Live() ? platform_.Open(agent, accessType) : nullptr;
}

bool CancellableInternet::SetOption(platform::HInternet handle, std::uint32_t option,
                                    std::uint32_t value) {
  return Live() && platform_.SetOption(handle, option, value);
}

platform::HInternet CancellableInternet::Connect(platform::HInternet root,
                                                 const std::wstring& server, std::uint16_t port,
                                                 std::uint32_t service) {
  return Live() ? platform_.Connect(root, server, port, service) : nullptr;
}

platform::HInternet CancellableInternet::OpenRequest(platform::HInternet connection,
                                                     const std::wstring& verb,
                                                     const std::wstring& object,
                                                     std::uint32_t flags) {
  return Live() ? platform_.OpenRequest(connection, verb, object, flags) : nullptr;
}

bool CancellableInternet::AddRequestHeaders(platform::HInternet request,
                                            const std::wstring& headers, std::uint32_t modifiers) {
  return Live() && platform_.AddRequestHeaders(request, headers, modifiers);
}

bool CancellableInternet::SendRequestEx(platform::HInternet request) {
  return Live() && platform_.SendRequestEx(request);
}

bool CancellableInternet::WriteFile(platform::HInternet request, const std::uint8_t* data,
                                    std::uint32_t size, std::uint32_t& written) {
  written = 0;
  return Live() && platform_.WriteFile(request, data, size, written);
}

std::uint32_t CancellableInternet::EndRequest(platform::HInternet request) {
  return Live() ? platform_.EndRequest(request) : kOperationCancelled;
}

bool CancellableInternet::QueryStatusCode(platform::HInternet request, std::uint32_t& status) {
  return Live() && platform_.QueryStatusCode(request, status);
}

bool CancellableInternet::QueryInfoA(platform::HInternet request, std::uint32_t infoLevel,
                                     char* buffer, std::uint32_t& length) {
  return Live() && platform_.QueryInfoA(request, infoLevel, buffer, length);
}

bool CancellableInternet::ReadFile(platform::HInternet request, std::uint8_t* buffer,
                                   std::uint32_t size, std::uint32_t& read) {
  read = 0;
  return Live() && platform_.ReadFile(request, buffer, size, read);
}

// Always passed on: the handles are the worker's alone, and closing them
// frees what they hold even after the exchange was given up on.
bool CancellableInternet::CloseHandle(platform::HInternet handle) {
  return platform_.CloseHandle(handle);
}

}  // namespace telemetry
