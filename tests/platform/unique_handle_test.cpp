#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "tests/sim/sim_machine.h"

namespace {

using platform::UniqueInternetHandle;
using platform::UniqueRegistryKey;
using platform::UniqueServiceHandle;

platform::HInternet AllBitsSet() {
  return reinterpret_cast<platform::HInternet>(~std::uintptr_t{0});
}

class UniqueHandleTest : public ::testing::Test {
 protected:
  UniqueServiceHandle OpenManager() {
    return UniqueServiceHandle(machine.services,
                               machine.services.OpenSCManager(platform::kScManagerConnect));
  }
  platform::HInternet OpenRoot() { return machine.internet.Open(L"ZANT", 0); }

  sim::SimMachine machine;
};

TEST_F(UniqueHandleTest, ClosesOnceWhenItGoesOutOfScope) {
  {
    const UniqueServiceHandle manager = OpenManager();
    ASSERT_TRUE(manager);
    EXPECT_EQ(machine.services.OpenHandles(), 1u);
  }
  EXPECT_EQ(machine.services.OpenHandles(), 0u);
  EXPECT_TRUE(machine.services.misuses().empty());
}

TEST_F(UniqueHandleTest, MovingHandsTheCloseOn) {
  UniqueServiceHandle first = OpenManager();
  const platform::ScHandle raw = first.get();
  UniqueServiceHandle second(std::move(first));
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  EXPECT_EQ(second.get(), raw);
  first.reset();
  EXPECT_EQ(machine.services.OpenHandles(), 1u);
  second.reset();
  EXPECT_FALSE(second);
  second.reset();
  EXPECT_EQ(machine.services.OpenHandles(), 0u);
  EXPECT_TRUE(machine.services.misuses().empty());
}

TEST_F(UniqueHandleTest, MoveAssignmentClosesTheHandleItReplaces) {
  UniqueServiceHandle kept = OpenManager();
  UniqueServiceHandle replaced = OpenManager();
  const platform::ScHandle raw = kept.get();
  replaced = std::move(kept);
  EXPECT_EQ(replaced.get(), raw);
  EXPECT_EQ(machine.services.OpenHandles(), 1u);
  auto& self = replaced;
  replaced = std::move(self);
  EXPECT_EQ(machine.services.OpenHandles(), 1u);
  replaced = UniqueServiceHandle();
  EXPECT_EQ(machine.services.OpenHandles(), 0u);
  EXPECT_TRUE(machine.services.misuses().empty());

  // Into a default-made holder, which then closes through the facility moved in.
  const platform::HInternet root = OpenRoot();
  {
    UniqueInternetHandle target;
    target = UniqueInternetHandle(machine.internet, root);
    EXPECT_TRUE(machine.internet.closedHandles().empty());
  }
  EXPECT_EQ(machine.internet.closedHandles(), std::vector<platform::HInternet>{root});
}

TEST_F(UniqueHandleTest, EmptyOwnerClosesNothing) {
  { const UniqueRegistryKey none(machine.registry, nullptr); }
  { const UniqueRegistryKey defaulted; }
  EXPECT_TRUE(machine.registry.misuses().empty());
  EXPECT_TRUE(machine.core.calls.empty());
}

TEST_F(UniqueHandleTest, RegistryKeysCloseThroughTheRegistry) {
  machine.registry.AddKey(L"SOFTWARE\\Orvane Systems");
  platform::HKey raw = nullptr;
  ASSERT_EQ(
      machine.registry.OpenLocalMachineKey(L"SOFTWARE\\Orvane Systems", platform::kKeyRead, raw),
      0);
  { const UniqueRegistryKey key(machine.registry, raw); }
  EXPECT_EQ(machine.registry.OpenHandles(), 0u);
  EXPECT_TRUE(machine.registry.misuses().empty());
}

TEST_F(UniqueHandleTest, InternetHandlesTakeNullAndAllBitsSetAsNoHandle) {
  {
    UniqueInternetHandle none(machine.internet, nullptr);
    UniqueInternetHandle invalid(machine.internet, AllBitsSet());
    EXPECT_FALSE(none);
    EXPECT_FALSE(invalid);
    invalid.reset();
    EXPECT_EQ(invalid.get(), nullptr);
    EXPECT_TRUE(UniqueInternetHandle(machine.internet, OpenRoot()));
  }
  // Only the open one was handed to InternetCloseHandle.
  EXPECT_EQ(machine.internet.closedHandles().size(), 1u);
  EXPECT_TRUE(machine.internet.misuses().empty());
}

// The rule of a directory search: neither all bits set nor null is a handle.
struct CountingCloser {
  std::vector<void*>* closed = nullptr;
  void operator()(void* handle) const { closed->push_back(handle); }
};
using SearchLike = platform::UniqueAny<void*, CountingCloser, platform::NullOrAllBitsSetIsNone>;

TEST(UniqueAnyTest, ValidityRuleReleaseAndPut) {
  std::vector<void*> closed;
  int object = 0;
  {
    SearchLike empty;
    EXPECT_FALSE(empty);
    SearchLike null(CountingCloser{&closed}, nullptr);
    EXPECT_FALSE(null);
    SearchLike released(CountingCloser{&closed}, &object);
    EXPECT_EQ(released.release(), &object);
    EXPECT_FALSE(released);
    SearchLike replaced(CountingCloser{&closed}, &object);
    *replaced.put() = nullptr;
    EXPECT_EQ(closed, std::vector<void*>{&object});
  }
  EXPECT_EQ(closed, std::vector<void*>{&object}) << "null is never closed";
}

}  // namespace
