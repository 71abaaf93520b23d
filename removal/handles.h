// Move-only owners for the handles that the removal actions open.
#pragma once

#include <utility>

#include "platform/registry.h"
#include "platform/services.h"

namespace removal {

// Owns one handle of a facility and closes it through that facility exactly
// once: when the owner is reset or destroyed. Moving hands the duty on.
template <typename Facility, typename Handle, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  UniqueHandle(Facility& facility, Handle handle) : facility_(&facility), handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept
      : facility_(other.facility_), handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      facility_ = other.facility_;
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  void reset() {
    if (handle_ != nullptr) {
      // A failed close leaves nothing that could be done about it.
      static_cast<void>((facility_->*Close)(std::exchange(handle_, nullptr)));
    }
  }

 private:
  Facility* facility_ = nullptr;
  Handle handle_ = nullptr;
};

// A connection to the service control manager, or an open service.
using ServiceHandle = UniqueHandle<platform::ServiceControl, platform::ScHandle,
                                   &platform::ServiceControl::CloseServiceHandle>;
// An open key below HKEY_LOCAL_MACHINE.
using RegistryKey = UniqueHandle<platform::Registry, platform::HKey, &platform::Registry::CloseKey>;

}  // namespace removal
