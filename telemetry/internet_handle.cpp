#include "telemetry/internet_handle.h"

#include <utility>

namespace telemetry {

bool IsValidInternetHandle(platform::HInternet handle) {
  return handle != nullptr && reinterpret_cast<std::uintptr_t>(handle) != ~std::uintptr_t{0};
}

InternetHandle::InternetHandle(platform::Internet& internet, platform::HInternet handle)
    : internet_(&internet), handle_(handle) {}

InternetHandle::~InternetHandle() { Close(); }

InternetHandle::InternetHandle(InternetHandle&& other) noexcept
    : internet_(other.internet_), handle_(std::exchange(other.handle_, nullptr)) {}

InternetHandle& InternetHandle::operator=(InternetHandle&& other) noexcept {
  if (this != &other) {
    Close();
    internet_ = other.internet_;
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void InternetHandle::Close() {
  if (valid() && internet_ != nullptr) internet_->CloseHandle(handle_);
  handle_ = nullptr;
}

}  // namespace telemetry
