// One owner for every kind of handle: a type per closing function, a rule per
// kind for which values mean "no handle", and a named alias per kind.
#pragma once

#include <cstdint>
#include <utility>

namespace platform {

// Null is no handle; the usual rule.
struct NullIsNone {
  template <typename Handle>
  static Handle None() {
    return Handle{};
  }
  template <typename Handle>
  static bool Holds(Handle handle) {
    return handle != Handle{};
  }
};

// Neither null nor all bits set (INVALID_HANDLE_VALUE) is a handle: the rule
// of WIL's handle_invalid_resource_policy. CreateFileW, ReOpenFile and
// FindFirstFileW fail with all bits set, WinINet's calls with null, and
// GetStdHandle may give either: a holder takes a call's result as it comes,
// and never passes on or closes either value. An empty holder holds null.
struct NullOrAllBitsSetIsNone : NullIsNone {
  template <typename Handle>
  static bool Holds(Handle handle) {
    // INVALID_HANDLE_VALUE is made by a cast of all bits set.
    return NullIsNone::Holds(handle) &&
           reinterpret_cast<std::uintptr_t>(handle) != ~std::uintptr_t{0};
  }
};

// Closes through a member of the facility that opened the handle, so that the
// simulated machine sees every close. A failed close leaves nothing that could
// be done about it.
template <typename Facility, auto Close>
class FacilityCloser {
 public:
  FacilityCloser() = default;
  // Implicit, so that a holder is made from (facility, handle).
  FacilityCloser(Facility& facility) : facility_(&facility) {}

  template <typename Handle>
  void operator()(Handle handle) const {
    if (facility_ != nullptr) static_cast<void>((facility_->*Close)(handle));
  }

 private:
  Facility* facility_ = nullptr;
};

// Move-only. Closes its handle exactly once, on reset() or destruction, and
// only when it holds one; moving hands the duty on.
template <typename Handle, typename Closer, typename Validity = NullIsNone>
class UniqueAny {
 public:
  UniqueAny() = default;
  explicit UniqueAny(Handle handle) : handle_(handle) {}
  UniqueAny(Closer closer, Handle handle) : closer_(std::move(closer)), handle_(handle) {}
  UniqueAny(UniqueAny&& other) noexcept : closer_(other.closer_), handle_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) {
      reset();
      closer_ = other.closer_;
      handle_ = other.release();
    }
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  ~UniqueAny() { reset(); }

  // The handle as held; test the holder first.
  [[nodiscard]] Handle get() const { return handle_; }
  explicit operator bool() const { return Validity::Holds(handle_); }

  // Closes the handle when held; afterwards the holder is empty.
  void reset() {
    const Handle handle = release();
    if (Validity::Holds(handle)) closer_(handle);
  }
  // Gives the handle up unclosed, for a caller that closes it itself.
  Handle release() { return std::exchange(handle_, Validity::template None<Handle>()); }
  // For a call that hands out a new handle; any held one is closed first.
  Handle* put() {
    reset();
    return &handle_;
  }

 private:
  Closer closer_{};
  Handle handle_ = Validity::template None<Handle>();
};

}  // namespace platform
